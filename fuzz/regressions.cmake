# Builds the fuzz targets' functions and every saved input of
# tests/fuzz_regressions/<target>/ into a test program, so that the ordinary
# tests replay them in every build, the Windows one under Wine included (the
# inputs travel inside the program, not as files to find at run time).
function(tova_add_fuzz_regressions target)
  set(_dir ${PROJECT_SOURCE_DIR}/tests/fuzz_regressions)
  file(GLOB_RECURSE _inputs CONFIGURE_DEPENDS ${_dir}/*/*)
  list(SORT _inputs)
  set(_body "")
  foreach(_file ${_inputs})
    file(RELATIVE_PATH _name ${_dir} ${_file})
    file(READ ${_file} _hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _hex "${_hex}")
    string(APPEND _body "    {\"${_name}\", {${_hex}}},\n")
  endforeach()
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/fuzz_regressions.cpp)
  file(CONFIGURE OUTPUT ${_out} CONTENT
"// Made by fuzz/regressions.cmake from tests/fuzz_regressions/.
#include <cstdint>
#include <utility>
#include <vector>
namespace tova::fuzz {
extern const std::vector<std::pair<const char*, std::vector<uint8_t>>> kRegressionInputs;
const std::vector<std::pair<const char*, std::vector<uint8_t>>> kRegressionInputs = {
${_body}};
}  // namespace tova::fuzz
")
  target_sources(${target} PRIVATE ${_out} ${PROJECT_SOURCE_DIR}/fuzz/targets.cpp
                                   ${PROJECT_SOURCE_DIR}/fuzz/fuzz_support.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
endfunction()
