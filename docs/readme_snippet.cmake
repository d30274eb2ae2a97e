# Checks that README.md shows SOURCE verbatim, so that the code a reader
# copies from README.md is the code the examples.readme_tour test builds.
#
#   cmake -DREADME=README.md -DSOURCE=examples/tour.cpp -P docs/readme_snippet.cmake
#
# The snippet is the first ```cpp block after the line
# "<!-- snippet: examples/tour.cpp -->" (the marker names SOURCE by its
# path from the repository root, i.e. from README's directory).
cmake_minimum_required(VERSION 3.16)

foreach(_var README SOURCE)
    if(NOT DEFINED ${_var})
        message(FATAL_ERROR "readme_snippet.cmake: -D${_var}=... is missing")
    endif()
endforeach()

get_filename_component(_root "${README}" DIRECTORY)
file(RELATIVE_PATH _name "${_root}" "${SOURCE}")
file(READ "${README}" _readme)
file(READ "${SOURCE}" _source)

set(_marker "<!-- snippet: ${_name} -->")
string(FIND "${_readme}" "${_marker}" _at)
if(_at LESS 0)
    message(FATAL_ERROR "${README} has no line \"${_marker}\"")
endif()
string(SUBSTRING "${_readme}" ${_at} -1 _rest)
set(_open "```cpp\n")
string(FIND "${_rest}" "${_open}" _start)
if(_start LESS 0)
    message(FATAL_ERROR "${README}: no ```cpp block after \"${_marker}\"")
endif()
string(LENGTH "${_open}" _open_length)
math(EXPR _start "${_start} + ${_open_length}")
string(SUBSTRING "${_rest}" ${_start} -1 _rest)
string(FIND "${_rest}" "\n```" _end)
if(_end LESS 0)
    message(FATAL_ERROR "${README}: the ```cpp block after \"${_marker}\" is not closed")
endif()
math(EXPR _end "${_end} + 1")
string(SUBSTRING "${_rest}" 0 ${_end} _snippet)

if(_snippet STREQUAL _source)
    message(STATUS "README.md shows ${_name} verbatim")
    return()
endif()

# Name the first line that differs (lines compared as strings: C++ code
# is not safe to turn into a CMake list).
set(_line 1)
while(TRUE)
    string(FIND "${_snippet}" "\n" _a_end)
    string(FIND "${_source}" "\n" _b_end)
    if(_a_end LESS 0 OR _b_end LESS 0)
        break()
    endif()
    string(SUBSTRING "${_snippet}" 0 ${_a_end} _a)
    string(SUBSTRING "${_source}" 0 ${_b_end} _b)
    if(NOT _a STREQUAL _b)
        break()
    endif()
    math(EXPR _a_end "${_a_end} + 1")
    math(EXPR _b_end "${_b_end} + 1")
    string(SUBSTRING "${_snippet}" ${_a_end} -1 _snippet)
    string(SUBSTRING "${_source}" ${_b_end} -1 _source)
    math(EXPR _line "${_line} + 1")
endwhile()
message(FATAL_ERROR "README.md's snippet differs from ${_name} at line ${_line} of the file; "
    "copy ${_name} into README.md again")
