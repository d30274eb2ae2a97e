# Checks that a page of the documentation shows a source file verbatim, so
# that the code a reader copies from the page is the code a test builds and
# runs.
#
#   cmake -DROOT=. -DPAGE=README.md -DSOURCE=examples/tour.cpp -P docs/snippet.cmake
#
# PAGE and SOURCE are paths from ROOT, the repository root. The snippet is
# the first ```cpp block after the line "<!-- snippet: SOURCE -->" in PAGE
# (the marker names SOURCE by its path from the root, whatever page it is
# on). The tests examples.readme_tour, examples.docs_* run this
# (examples/CMakeLists.txt).
cmake_minimum_required(VERSION 3.16)

foreach(_var ROOT PAGE SOURCE)
    if(NOT DEFINED ${_var})
        message(FATAL_ERROR "snippet.cmake: -D${_var}=... is missing")
    endif()
endforeach()

file(READ "${ROOT}/${PAGE}" _page)
file(READ "${ROOT}/${SOURCE}" _source)

set(_marker "<!-- snippet: ${SOURCE} -->")
string(FIND "${_page}" "${_marker}" _at)
if(_at LESS 0)
    message(FATAL_ERROR "${PAGE} has no line \"${_marker}\"")
endif()
string(SUBSTRING "${_page}" ${_at} -1 _rest)
set(_open "```cpp\n")
string(FIND "${_rest}" "${_open}" _start)
if(_start LESS 0)
    message(FATAL_ERROR "${PAGE}: no ```cpp block after \"${_marker}\"")
endif()
string(LENGTH "${_open}" _open_length)
math(EXPR _start "${_start} + ${_open_length}")
string(SUBSTRING "${_rest}" ${_start} -1 _rest)
string(FIND "${_rest}" "\n```" _end)
if(_end LESS 0)
    message(FATAL_ERROR "${PAGE}: the ```cpp block after \"${_marker}\" is not closed")
endif()
math(EXPR _end "${_end} + 1")
string(SUBSTRING "${_rest}" 0 ${_end} _snippet)

if(_snippet STREQUAL _source)
    message(STATUS "${PAGE} shows ${SOURCE} verbatim")
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
message(FATAL_ERROR "${PAGE}'s snippet differs from ${SOURCE} at line ${_line} of the file; "
    "copy ${SOURCE} into ${PAGE} again")
