// The shared library is made of the tova_core archive; this file only gives
// the target a source of its own.
