# tova view and the stack exports: the web server library, libtiff, and the
# page with its plotting library embedded into the tool.

# cpp-httplib as Debian builds it (a shared library with its pkg-config file).
find_package(PkgConfig)
if(PkgConfig_FOUND)
  pkg_check_modules(TOVA_HTTPLIB IMPORTED_TARGET cpp-httplib)
endif()
if(TOVA_HTTPLIB_FOUND)
  target_link_libraries(tova PRIVATE PkgConfig::TOVA_HTTPLIB)
  target_compile_definitions(tova PRIVATE TOVA_CLI_HAVE_HTTPLIB=1)
else()
  message(WARNING "cpp-httplib not found: 'tova view' will not be available (install libcpp-httplib-dev)")
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/viewer_server.cpp PROPERTIES HEADER_FILE_ONLY ON)
endif()

find_package(TIFF)
if(TIFF_FOUND)
  target_link_libraries(tova PRIVATE TIFF::TIFF)
  target_compile_definitions(tova PRIVATE TOVA_CLI_HAVE_TIFF=1)
else()
  message(WARNING "libtiff not found: 'tova export' will not write TIFF files (install libtiff-dev)")
endif()

# uPlot comes from npm, pinned by package-lock.json at the top of the tree.
set(_uplot_dir ${PROJECT_SOURCE_DIR}/node_modules/uplot/dist)
if(NOT EXISTS ${_uplot_dir}/uPlot.iife.min.js)
  find_program(TOVA_NPM npm)
  if(TOVA_NPM)
    message(STATUS "Installing the page's plotting library: npm ci")
    execute_process(COMMAND ${TOVA_NPM} ci --ignore-scripts --no-audit --no-fund --prefer-offline
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} RESULT_VARIABLE _npm_result OUTPUT_QUIET ERROR_QUIET)
  endif()
endif()
if(NOT EXISTS ${_uplot_dir}/uPlot.iife.min.js)
  message(WARNING "uPlot not found (run 'npm ci' at the top of the tree): the viewer's page will have no plot")
endif()

set(_viewer_dir ${CMAKE_CURRENT_SOURCE_DIR}/viewer)
set(_assets
  "/|html|${_viewer_dir}/index.html"
  "/viewer.js|js|${_viewer_dir}/viewer.js"
  "/viewer.css|css|${_viewer_dir}/viewer.css"
  "/uplot.js|js|${_uplot_dir}/uPlot.iife.min.js"
  "/uplot.css|css|${_uplot_dir}/uPlot.min.css")
set(_asset_files)
foreach(_a IN LISTS _assets)
  string(REGEX REPLACE "^.*\\|" "" _file "${_a}")
  if(EXISTS ${_file})
    list(APPEND _asset_files ${_file})
  endif()
endforeach()
set(_generated ${CMAKE_CURRENT_BINARY_DIR}/viewer_assets.cpp)
string(REPLACE ";" "!" _asset_arg "${_assets}")
add_custom_command(OUTPUT ${_generated}
  COMMAND ${CMAKE_COMMAND} "-DASSETS=${_asset_arg}" -DOUT=${_generated} -P ${_viewer_dir}/embed.cmake
  DEPENDS ${_asset_files} ${_viewer_dir}/embed.cmake
  COMMENT "Embedding the viewer's page" VERBATIM)
target_sources(tova PRIVATE ${_generated})
target_include_directories(tova PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
