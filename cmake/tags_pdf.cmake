# The generator of the printable markers sheet in data/tags/, and the hook-up of its test.
# Include after the test target pinvaler_tests is defined.

cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH PINVALER_TAGS_PDF_ROOT)

find_package(PkgConfig REQUIRED)
find_package(apriltag REQUIRED)
# Fonts are loaded by file through FreeType, so cairo-ft and freetype2 are needed besides cairo.
pkg_check_modules(tags_pdf_cairo REQUIRED IMPORTED_TARGET cairo cairo-pdf cairo-ft freetype2)

add_executable(make_tags_pdf "${PINVALER_TAGS_PDF_ROOT}/tools/make_tags_pdf.cpp")
target_link_libraries(make_tags_pdf PRIVATE PkgConfig::tags_pdf_cairo apriltag::apriltag)

set(PINVALER_TAGS_PDF "${PINVALER_TAGS_PDF_ROOT}/data/tags/pinvaler-tags-tag16h5-circle21h7.pdf")

# Rewrites the committed sheet and its preview; run after changing the generator.
add_custom_target(tags_pdf
    COMMAND make_tags_pdf "${PINVALER_TAGS_PDF}"
    COMMAND pdftoppm -r 60 -png -f 1 -l 1 -singlefile "${PINVALER_TAGS_PDF}"
            "${PINVALER_TAGS_PDF_ROOT}/docs/tags-pdf-page1"
    VERBATIM)

if(TARGET pinvaler_tests)
    add_dependencies(pinvaler_tests make_tags_pdf)
    target_compile_definitions(pinvaler_tests PRIVATE
        PINVALER_SOURCE_DIR="${PINVALER_TAGS_PDF_ROOT}"
        PINVALER_TAGS_PDF_TOOL="$<TARGET_FILE:make_tags_pdf>")
endif()
