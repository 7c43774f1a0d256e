// The table of the library's result codes with their names and meanings, as
// the tool shows them in every failure message.
#include "errors.h"

#include "HOLMDAQTova.h"

namespace tova_cli {
namespace {

struct ResultCodeInfo {
  int32_t code;
  const char* name;  // the header's constant name; empty where it has none
  const char* text;
};

// Codes without a constant of their own: an append-open of a file whose
// extension is not "tova" and a read-open of a missing or empty file.

constexpr ResultCodeInfo kResultCodes[] = {
    {TOVA_OK, "TOVA_OK", "success"},
    {TOVA_ERR_HANDLE, "TOVA_ERR_HANDLE", "the handle names no open document"},
    {TOVA_ERR_NO_FILE, "TOVA_ERR_NO_FILE", "the file does not exist or is empty"},
    {TOVA_ERR_NO_MEMORY, "TOVA_ERR_NO_MEMORY", "memory could not be obtained"},
    {TOVA_ERR_WRITE_INCOMPLETE, "TOVA_ERR_WRITE_INCOMPLETE", "a dataset could not be written completely"},
    {TOVA_ERR_FILE_WRITE, "TOVA_ERR_FILE_WRITE", "writing or closing a part file failed"},
    {TOVA_ERR_DOCUMENT_TYPE, "TOVA_ERR_DOCUMENT_TYPE", "the operation is not allowed for this kind of document"},
    {TOVA_ERR_CANCELLED, "TOVA_ERR_CANCELLED", "the operation was cancelled"},
    {TOVA_ERR_READ, "TOVA_ERR_READ", "reading the file failed (damaged, truncated or not a TOVA document)"},
    {TOVA_ERR_OPEN, "TOVA_ERR_OPEN", "a file could not be opened"},
    {TOVA_ERR_SHORT, "TOVA_ERR_SHORT", "a file ended early or a continuation file is missing"},
    {TOVA_ERR_NULL_POINTER, "TOVA_ERR_NULL_POINTER", "a required pointer argument is null"},
    {TOVA_ERR_BUFFER_TOO_SMALL, "TOVA_ERR_BUFFER_TOO_SMALL", "the buffer is too small"},
    {TOVA_ERR_DELETE, "TOVA_ERR_DELETE", "a file could not be deleted"},
    {TOVA_ERR_RENAME, "TOVA_ERR_RENAME", "a file could not be renamed"},
    {TOVA_ERR_FILE_SIZE, "TOVA_ERR_FILE_SIZE", "the size of a file could not be determined"},
    {TOVA_ERR_SECTION_ID, "TOVA_ERR_SECTION_ID", "unknown section identifier"},
    {TOVA_ERR_NO_SECTION, "TOVA_ERR_NO_SECTION", "the section does not exist for this frame"},
    {TOVA_ERR_SECTION_SHORT, "TOVA_ERR_SECTION_SHORT", "a section record is shorter than its header"},
    {TOVA_ERR_STORE, "TOVA_ERR_STORE", "an entry could not be stored"},
    {TOVA_ERR_ENTRY_INDEX, "TOVA_ERR_ENTRY_INDEX", "the entry index lies beyond the section's entries"},
    {TOVA_ERR_RECORD, "TOVA_ERR_RECORD", "a malformed entry record, or an entry without data"},
    {TOVA_ERR_NO_ENTRY, "TOVA_ERR_NO_ENTRY", "no entry with that identifier in the section"},
    {TOVA_ERR_EXTENSION, "TOVA_ERR_EXTENSION", "the file name does not carry the extension .tova"},
    {TOVA_ERR_DATASET, "TOVA_ERR_DATASET", "frame index out of range, or the document holds no frame"},
    {TOVA_ERR_TOO_FEW_DATASETS, "TOVA_ERR_TOO_FEW_DATASETS", "the document holds fewer than two frames"},
    {TOVA_ERR_MISMATCH_DEVICE, "TOVA_ERR_MISMATCH_DEVICE",
     "the recordings differ in data unit, calibration or device"},
    {TOVA_ERR_MISMATCH_RANGE, "TOVA_ERR_MISMATCH_RANGE", "the recordings differ in measurement range"},
    {TOVA_ERR_MISMATCH_SIZE, "TOVA_ERR_MISMATCH_SIZE",
     "the recordings differ in sensor or image size (or a size is zero)"},
    {TOVA_ERR_NOT_LOCK_OWNER, "TOVA_ERR_NOT_LOCK_OWNER", "the calling thread does not hold the document lock"},
    {TOVA_ERR_TEXT_HANDLE, "TOVA_ERR_TEXT_HANDLE", "the handle names no open document"},
    {TOVA_ERR_APPEND_EXTENSION, "TOVA_ERR_APPEND_EXTENSION", "the existing file does not carry the extension .tova"},
};

const ResultCodeInfo* Find(int32_t code) {
  for (const ResultCodeInfo& info : kResultCodes)
    if (info.code == code) return &info;
  return nullptr;
}

}  // namespace

std::string ResultCodeName(int32_t code) {
  const ResultCodeInfo* info = Find(code);
  return info ? info->name : "";
}

std::string ResultCodeText(int32_t code) {
  const ResultCodeInfo* info = Find(code);
  return info ? info->text : "unknown result code";
}

std::string DescribeResult(int32_t code) {
  std::string text = "error " + std::to_string(code) + " (";
  const std::string name = ResultCodeName(code);
  if (!name.empty()) text += name + ": ";
  return text + ResultCodeText(code) + ")";
}

void Check(int32_t code, const std::string& what) {
  if (code == TOVA_ERR_READ)  // a recorder that died while appending leaves such a file
    throw CliError(what + ": " + DescribeResult(code) + "\n'tova repair FILE' keeps its whole frames");
  if (code != TOVA_OK) throw CliError(what + ": " + DescribeResult(code));
}

}  // namespace tova_cli
