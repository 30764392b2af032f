# Installs the build into a scratch folder in both layouts, then builds the
# Debian package, and checks that exactly the module and its data land where
# the host looks for them.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DATA_DIR=... -DMULTIARCH=... -P this file
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK_DIR}")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
    endif()
endfunction()

file(GLOB locales RELATIVE "${SOURCE_DATA_DIR}/locale" "${SOURCE_DATA_DIR}/locale/*.ini")
list(LENGTH locales locale_count)
if(locale_count LESS 5)
    message(FATAL_ERROR "expected the five locales in ${SOURCE_DATA_DIR}/locale, found: ${locales}")
endif()
set(data_files effects/luma.effect effects/pinvaler.effect tags/pinvaler-tags-tag16h5-circle21h7.pdf)
foreach(locale IN LISTS locales)
    list(APPEND data_files "locale/${locale}")
endforeach()

# Every file under `root` is the module or one of the data files, all present,
# the data unchanged.
function(check_tree root module data)
    set(expected "${module}")
    foreach(file IN LISTS data_files)
        list(APPEND expected "${data}/${file}")
    endforeach()
    file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
    list(SORT expected)
    list(SORT found)
    if(NOT found STREQUAL expected)
        string(REPLACE ";" "\n  " expected_text "${expected}")
        string(REPLACE ";" "\n  " found_text "${found}")
        message(FATAL_ERROR "under ${root}\nexpected:\n  ${expected_text}\nfound:\n  ${found_text}")
    endif()
    foreach(file IN LISTS data_files)
        run(${CMAKE_COMMAND} -E compare_files "${SOURCE_DATA_DIR}/${file}" "${root}/${data}/${file}")
    endforeach()
    message(STATUS "layout under ${root}: ok")
endfunction()

set(system_libdir "usr/lib")
if(MULTIARCH)
    string(APPEND system_libdir "/${MULTIARCH}")
endif()
set(system_module "${system_libdir}/obs-plugins/pinvaler-filter.so")
set(system_data "usr/share/obs/obs-plugins/pinvaler-filter")

# Per user: the default prefix, in a scratch home.
load_cache("${BUILD_DIR}" READ_WITH_PREFIX cache_ CMAKE_INSTALL_PREFIX)
set(home "${WORK_DIR}/home")
if(cache_CMAKE_INSTALL_PREFIX STREQUAL "~/.config/obs-studio/plugins")
    run(${CMAKE_COMMAND} -E env "HOME=${home}" ${CMAKE_COMMAND} --install "${BUILD_DIR}")
else()
    message(STATUS "this build was configured with its own prefix; naming the per-user folder")
    run(${CMAKE_COMMAND} -E env "HOME=${home}" ${CMAKE_COMMAND} --install "${BUILD_DIR}"
        --prefix "${home}/.config/obs-studio/plugins")
endif()
check_tree("${home}" ".config/obs-studio/plugins/pinvaler-filter/bin/64bit/pinvaler-filter.so"
           ".config/obs-studio/plugins/pinvaler-filter/data")

# System-wide: another prefix, directly and through DESTDIR as packagers do.
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/system/usr")
check_tree("${WORK_DIR}/system" "${system_module}" "${system_data}")
run(${CMAKE_COMMAND} -E env "DESTDIR=${WORK_DIR}/staged" ${CMAKE_COMMAND} --install "${BUILD_DIR}"
    --prefix /usr)
check_tree("${WORK_DIR}/staged" "${system_module}" "${system_data}")

# The Debian package, where dpkg is there to look inside it.
find_program(dpkg_deb dpkg-deb)
if(NOT dpkg_deb)
    message(STATUS "dpkg-deb not found: the package is not checked")
    return()
endif()
run(${CMAKE_CPACK_COMMAND} -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}/package")
file(GLOB packages "${WORK_DIR}/package/*.deb")
list(LENGTH packages package_count)
if(NOT package_count EQUAL 1)
    message(FATAL_ERROR "expected one .deb in ${WORK_DIR}/package, found: ${packages}")
endif()
execute_process(COMMAND ${dpkg_deb} -f ${packages} Package Version Depends
                OUTPUT_VARIABLE fields COMMAND_ERROR_IS_FATAL ANY)
file(STRINGS "${SOURCE_DATA_DIR}/../src/module/module.h" version_line
     REGEX "plugin_version\\[\\] = ")
string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" version "${version_line}")
string(REPLACE "-" "~" deb_version "${version}")
foreach(wanted "Package: pinvaler-filter\n" "Version: ${deb_version}-1\n" "libobs0" "libapriltag3")
    string(FIND "${fields}" "${wanted}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the package's fields lack \"${wanted}\":\n${fields}")
    endif()
endforeach()
run(${dpkg_deb} -x ${packages} "${WORK_DIR}/unpacked")
check_tree("${WORK_DIR}/unpacked" "${system_module}" "${system_data}")
