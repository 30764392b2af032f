# The plug-in's identity lives in one header; CMake reads it from there.
file(STRINGS "${CMAKE_CURRENT_SOURCE_DIR}/src/module/module.h" _pv_version_line
     REGEX "plugin_version\\[\\] = \"[^\"]+\"")
string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" PINVALER_VERSION "${_pv_version_line}")
set(PINVALER_MODULE_NAME "pinvaler-filter")
message(STATUS "pinvaler-filter version ${PINVALER_VERSION}")
