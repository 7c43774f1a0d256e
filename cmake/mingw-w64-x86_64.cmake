# Cross-build for Windows x64 with MinGW-w64. The posix-thread compilers are
# used because the library relies on std::thread and std::mutex; their runtime
# (libgcc, libstdc++, winpthread) is linked statically into HOLMDAQTova.dll and
# the test programs, so that they need nothing but Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVA_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${TOVA_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TOVA_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TOVA_MINGW_PREFIX}-windres REQUIRED)
find_program(CMAKE_AR NAMES ${TOVA_MINGW_PREFIX}-ar)
find_program(CMAKE_RANLIB NAMES ${TOVA_MINGW_PREFIX}-ranlib)
find_program(CMAKE_OBJDUMP NAMES ${TOVA_MINGW_PREFIX}-objdump)

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOVA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine when CTest runs them on the build machine.
find_program(TOVA_WINE NAMES wine wine64)
if(TOVA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVA_WINE})
endif()
