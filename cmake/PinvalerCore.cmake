# The plug-in's code, built once; the module and the tests link the same objects.
file(GLOB_RECURSE _pv_core_sources CONFIGURE_DEPENDS
     "${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp")
# Platform files carry a platform suffix; only this platform's join the build.
list(FILTER _pv_core_sources EXCLUDE REGEX "_(windows|macos|linux)\\.cpp$")
if(WIN32)
    file(GLOB _pv_platform_sources "${CMAKE_CURRENT_SOURCE_DIR}/src/platform/*_windows.cpp")
elseif(APPLE)
    file(GLOB _pv_platform_sources "${CMAKE_CURRENT_SOURCE_DIR}/src/platform/*_macos.cpp")
else()
    file(GLOB _pv_platform_sources "${CMAKE_CURRENT_SOURCE_DIR}/src/platform/*_linux.cpp")
endif()

add_library(pinvaler_core OBJECT ${_pv_core_sources} ${_pv_platform_sources})
target_include_directories(pinvaler_core PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/src")
target_link_libraries(pinvaler_core
    PUBLIC OBS::libobs apriltag::apriltag Threads::Threads
    PRIVATE pinvaler_warnings)

# Opening a file with the desktop's default application.
if(APPLE)
    target_link_libraries(pinvaler_core PUBLIC "-framework CoreFoundation" "-framework CoreServices")
elseif(WIN32)
    target_link_libraries(pinvaler_core PUBLIC shell32)
else()
    pkg_check_modules(gio REQUIRED IMPORTED_TARGET gio-2.0)
    target_link_libraries(pinvaler_core PUBLIC PkgConfig::gio)
endif()
