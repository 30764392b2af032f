set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

option(PINVALER_WERROR "Treat warnings as errors" OFF)
set(PINVALER_SANITIZE "" CACHE STRING "Sanitizer build: empty, address (with undefined) or thread")
set_property(CACHE PINVALER_SANITIZE PROPERTY STRINGS "" address thread)

add_library(pinvaler_warnings INTERFACE)
target_compile_options(pinvaler_warnings INTERFACE
    -Wall -Wextra -Wshadow -Wformat=2 -Wcast-align
    -Wdouble-promotion -Wimplicit-fallthrough
    # Geometry and smoothing are specified in single precision; contraction
    # into fused multiply-adds would change their results.
    -ffp-contract=off
    $<$<BOOL:${PINVALER_WERROR}>:-Werror>)

option(PINVALER_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(PINVALER_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "PINVALER_FUZZ needs clang (CC=clang CXX=clang++)")
    endif()
    # Coverage for the fuzzer in everything; libFuzzer's main only in the targets.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(PINVALER_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(PINVALER_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT PINVALER_SANITIZE STREQUAL "")
    message(FATAL_ERROR "PINVALER_SANITIZE must be empty, address or thread")
endif()
