# Fails when a lower layer includes a higher one. The layers depend one way:
#   api -> format, catalog, housekeeping, progress -> model -> platform
# Run as: cmake -DSOURCE_DIR=<repo>/src -P check_layers.cmake
set(_rules
  "platform|api/|format/|catalog/|housekeeping/|progress/|model/"
  "model|api/|format/|catalog/|housekeeping/|progress/")
set(_failures "")
foreach(_rule IN LISTS _rules)
  string(REPLACE "|" ";" _parts "${_rule}")
  list(POP_FRONT _parts _layer)
  file(GLOB_RECURSE _files "${SOURCE_DIR}/${_layer}/*.h" "${SOURCE_DIR}/${_layer}/*.cpp")
  foreach(_file IN LISTS _files)
    file(STRINGS "${_file}" _includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(_line IN LISTS _includes)
      foreach(_higher IN LISTS _parts)
        if(_line MATCHES "\"${_higher}")
          string(APPEND _failures "  ${_file}: ${_line}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(_failures)
  message(FATAL_ERROR "A lower layer includes a higher one:\n${_failures}")
endif()
message(STATUS "layers depend one way")
