# Installing the plug-in and its data (never the tools or the tests).
#
# The layout is chosen when installing, from the prefix:
#   - a prefix ending in /obs-studio/plugins gets the per-user layout that the
#     desktop host searches in ~/.config/obs-studio/plugins:
#       <prefix>/pinvaler-filter/bin/64bit/pinvaler-filter.so
#       <prefix>/pinvaler-filter/data/{effects,locale,tags}
#     The default prefix is that folder of whoever runs `cmake --install`
#     (a leading ~ is read as $HOME then), so a plain install needs no root.
#   - any other prefix (`cmake --install build/dev --prefix /usr`) gets the
#     system layout of the distribution's host:
#       <prefix>/lib/<multiarch>/obs-plugins/pinvaler-filter.so
#       <prefix>/share/obs/obs-plugins/pinvaler-filter/{effects,locale,tags}
# DESTDIR is honoured in both.
set(PINVALER_USER_PLUGIN_FOLDER "~/.config/obs-studio/plugins")
# Build folders configured before this rule existed hold CMake's own default;
# it is replaced once, and an explicit -DCMAKE_INSTALL_PREFIX is kept.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR
   (NOT DEFINED CACHE{PINVALER_PREFIX_DEFAULT_APPLIED} AND CMAKE_INSTALL_PREFIX STREQUAL "/usr/local"))
    # STRING, not PATH: CMake would expand the ~ now, for whoever configures.
    set(CMAKE_INSTALL_PREFIX "${PINVALER_USER_PLUGIN_FOLDER}" CACHE STRING
        "Install prefix: an obs-studio/plugins folder (per-user layout) or a system prefix" FORCE)
endif()
set(PINVALER_PREFIX_DEFAULT_APPLIED ON CACHE INTERNAL "")

set(_pv_system_libdir "lib")
if(CMAKE_LIBRARY_ARCHITECTURE)
    string(APPEND _pv_system_libdir "/${CMAKE_LIBRARY_ARCHITECTURE}")
endif()

install(CODE "
set(PINVALER_INSTALL_NAME \"${PINVALER_MODULE_NAME}\")
set(PINVALER_INSTALL_MODULE \"$<TARGET_FILE:pinvaler-filter>\")
set(PINVALER_INSTALL_DATA \"${PINVALER_DATA_DIR}\")
set(PINVALER_INSTALL_SYSTEM_LIBDIR \"${_pv_system_libdir}\")
")
install(SCRIPT "${CMAKE_CURRENT_LIST_DIR}/PinvalerInstallLayout.cmake")

# `cpack -G DEB` in the build folder: the system layout under /usr.
string(REPLACE "-" "~" _pv_deb_version "${PINVALER_VERSION}") # 1.0.0~rc4 sorts before 1.0.0
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${PINVALER_MODULE_NAME}")
set(CPACK_PACKAGE_VERSION "${_pv_deb_version}")
set(CPACK_PACKAGE_VENDOR "The Pinvale developers")
set(CPACK_PACKAGE_CONTACT "The Pinvale developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "OBS Studio filter that zooms to the region between two printed AprilTag markers")
set(CPACK_PACKAGE_DESCRIPTION
    "Pinvale Marker Zoom finds two AprilTag markers in a video source on a background thread and crops the source to the region between them, following it smoothly as the camera or the markers move.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
# What the module links: the host, the detector, GIO (the markers button) and
# the C++ runtime. Written out rather than computed by dpkg-shlibdeps, which
# would only ask for the libobs of the oldest API it finds in use.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libobs0 (>= 29), libapriltag3, libglib2.0-0, libstdc++6")
set(CPACK_STRIP_FILES ON)
include(CPack)
