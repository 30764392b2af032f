# The plug-in's code in two libraries.
#
# pinvaler_core: the host-free logic (luma and downscale, crop geometry, zoom smoothing, settings
# normalisation, the rate gate, which intake serves and the GPU intake's staging ring, tag
# selection and tracking status, the diagnostics line, the setup view's geometry, the detector
# library's side, and where each pass searches). It sees the host's headers for plain enums but
# never links the host: the unit tests link it without libobs, so a host call here fails their
# link.
add_library(pinvaler_core STATIC
    src/filter/controls.cpp
    src/detect/crop_geometry.cpp
    src/detect/detector.cpp
    src/detect/perf_report.cpp
    src/detect/search_planner.cpp
    src/detect/search_windows.cpp
    src/detect/tracking.cpp
    src/detect/window_detection.cpp
    src/filter/settings.cpp
    src/intake/intake_choice.cpp
    src/intake/luma.cpp
    src/intake/luma_rows.cpp
    src/intake/luma_rows_x86.cpp
    src/intake/rate_gate.cpp
    src/intake/staging_ring.cpp
    src/zoom/overlay_geometry.cpp
    src/zoom/zoom_step.cpp)
target_include_directories(pinvaler_core PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/src")
target_include_directories(pinvaler_core SYSTEM PUBLIC
    $<TARGET_PROPERTY:OBS::libobs,INTERFACE_INCLUDE_DIRECTORIES>)
target_link_libraries(pinvaler_core PUBLIC apriltag::apriltag PRIVATE pinvaler_warnings)

# pinvaler_plugin: the glue to the host, per subsystem; built once, linked by the module and by
# everything that drives the filter's callbacks directly.
add_library(pinvaler_plugin OBJECT
    src/filter/filter_controls.cpp
    src/detect/worker.cpp
    src/filter/filter.cpp
    src/filter/instance.cpp
    src/filter/settings_panel.cpp
    src/intake/frame_intake.cpp
    src/intake/gpu_intake.cpp
    src/intake/gpu_readback.cpp
    src/module/module.cpp
    src/zoom/setup_view.cpp
    src/zoom/zoom_output.cpp)
# Platform files carry a platform suffix; only this platform's join the build.
if(WIN32)
    target_sources(pinvaler_plugin PRIVATE src/platform/open_default_app_windows.cpp)
    target_link_libraries(pinvaler_plugin PUBLIC shell32)
elseif(APPLE)
    target_sources(pinvaler_plugin PRIVATE src/platform/open_default_app_macos.cpp)
    target_link_libraries(pinvaler_plugin PUBLIC "-framework CoreFoundation"
                          "-framework CoreServices")
else()
    target_sources(pinvaler_plugin PRIVATE src/platform/open_default_app_linux.cpp)
    pkg_check_modules(gio REQUIRED IMPORTED_TARGET gio-2.0)
    target_link_libraries(pinvaler_plugin PUBLIC PkgConfig::gio)
endif()
target_link_libraries(pinvaler_plugin
    PUBLIC pinvaler_core OBS::libobs Threads::Threads
    PRIVATE pinvaler_warnings)
