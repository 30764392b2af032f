# The shared module the host loads: no "lib" prefix, only the host's entry points exported.
add_library(pinvaler-filter MODULE)
target_link_libraries(pinvaler-filter PRIVATE pinvaler_plugin pinvaler_warnings)
set_target_properties(pinvaler-filter PROPERTIES PREFIX "")

if(NOT WIN32 AND NOT APPLE)
    set(_pv_exports "${CMAKE_CURRENT_SOURCE_DIR}/cmake/module-exports.map")
    target_link_options(pinvaler-filter PRIVATE
        "LINKER:--version-script=${_pv_exports}" "LINKER:-Bsymbolic")
    # Sanitizer runtimes come from the executable that loads the module.
    if(PINVALER_SANITIZE STREQUAL "")
        target_link_options(pinvaler-filter PRIVATE "LINKER:--no-undefined")
    endif()
    set_property(TARGET pinvaler-filter APPEND PROPERTY LINK_DEPENDS "${_pv_exports}")
endif()

set(PINVALER_DATA_DIR "${CMAKE_CURRENT_SOURCE_DIR}/data")
