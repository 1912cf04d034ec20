# fast_float for cross builds (named as FastFloat_DIR by the toolchain files): the host's
# header-only package (Debian libfast-float-dev) serves every target. Its headers are reached
# through a folder of their own in the build tree, as the host's include folder as a whole
# (/usr/include) would put the host's C headers before the target's.
find_path(GRAYGIF_FAST_FLOAT_INCLUDE_DIR fast_float/fast_float.h
          PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT GRAYGIF_FAST_FLOAT_INCLUDE_DIR)
    set(FastFloat_FOUND FALSE)
    set(FastFloat_NOT_FOUND_MESSAGE
        "fast_float/fast_float.h is not on the host (Debian: apt-get install libfast-float-dev); "
        "set GRAYGIF_FAST_FLOAT_INCLUDE_DIR to the folder that holds fast_float/")
    return()
endif()
set(_graygif_fast_float_dir ${CMAKE_BINARY_DIR}/host-fast-float)
file(MAKE_DIRECTORY ${_graygif_fast_float_dir})
file(CREATE_LINK ${GRAYGIF_FAST_FLOAT_INCLUDE_DIR}/fast_float ${_graygif_fast_float_dir}/fast_float
     SYMBOLIC COPY_ON_ERROR)
if(NOT TARGET FastFloat::fast_float)
    add_library(FastFloat::fast_float INTERFACE IMPORTED)
    set_target_properties(FastFloat::fast_float PROPERTIES
                          INTERFACE_INCLUDE_DIRECTORIES ${_graygif_fast_float_dir})
endif()
