# Run by `cmake --install` (see PinvalerInstall.cmake): puts the module and its
# data where the host looks for them, by the prefix given at install time.
set(_pv_prefix "${CMAKE_INSTALL_PREFIX}")
if(_pv_prefix MATCHES "^~(/|$)")
    string(REGEX REPLACE "^~" "$ENV{HOME}" _pv_prefix "${_pv_prefix}")
endif()

if(_pv_prefix MATCHES "/obs-studio/plugins/*$")
    set(_pv_layout "per-user")
    set(_pv_module_dir "${_pv_prefix}/${PINVALER_INSTALL_NAME}/bin/64bit")
    set(_pv_data_dir "${_pv_prefix}/${PINVALER_INSTALL_NAME}/data")
else()
    set(_pv_layout "system")
    set(_pv_module_dir "${_pv_prefix}/${PINVALER_INSTALL_SYSTEM_LIBDIR}/obs-plugins")
    set(_pv_data_dir "${_pv_prefix}/share/obs/obs-plugins/${PINVALER_INSTALL_NAME}")
endif()
message(STATUS "Installing the ${_pv_layout} layout: module in ${_pv_module_dir}, data in ${_pv_data_dir}")

file(INSTALL DESTINATION "${_pv_module_dir}" TYPE MODULE FILES "${PINVALER_INSTALL_MODULE}")
file(INSTALL DESTINATION "${_pv_data_dir}" TYPE DIRECTORY
     FILES "${PINVALER_INSTALL_DATA}/effects" "${PINVALER_INSTALL_DATA}/locale"
           "${PINVALER_INSTALL_DATA}/tags")
