# The exit cases of exit_case.cpp against a Release build of the library,
# where a category freed before an object's destruction shows as a crash.
# Run by ctest as
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... [-DMAKE_PROGRAM=...]
#         -DCXX=... -DCASES=endpoint,list,... -P release.cmake
# It configures WORK_DIR as a Release tree of the project (once; later runs
# only rebuild what changed), builds the libraries and the exit programs
# alone, and runs each program with log4cpp unconfigured and configured.
cmake_minimum_required(VERSION 3.16)

foreach(_var SOURCE_DIR WORK_DIR GENERATOR CXX CASES)
    if(NOT DEFINED ${_var} OR "${${_var}}" STREQUAL "")
        message(FATAL_ERROR "release.cmake: -D${_var}=... is missing")
    endif()
endforeach()

function(run_checked what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "${what} failed (${_rc}):\n${_out}")
    endif()
endfunction()

set(_configure "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}" -G "${GENERATOR}"
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_COMPILER=${CXX}" -DVMSG_WERROR=ON -DVMSG_SANITIZE=OFF
    -DVMSG_BUILD_TESTS=ON -DVMSG_BUILD_EXAMPLES=OFF -DVMSG_BUILD_TOOLS=OFF
    -DVMSG_BUILD_FUZZERS=OFF -DVMSG_BUILD_BENCHMARKS=OFF)
if(DEFINED MAKE_PROGRAM AND NOT MAKE_PROGRAM STREQUAL "")
    list(APPEND _configure "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}")
endif()
if(NOT EXISTS "${WORK_DIR}/CMakeCache.txt")
    run_checked("configure ${WORK_DIR}" ${_configure})
endif()

string(REPLACE "," ";" CASES "${CASES}")
set(_targets "")
foreach(_case IN LISTS CASES)
    list(APPEND _targets vmsg_exit_${_case})
endforeach()
run_checked("build ${_targets}" "${CMAKE_COMMAND}" --build "${WORK_DIR}" --target ${_targets})

set(_failures "")
foreach(_case IN LISTS CASES)
    foreach(_mode unconfigured configured)
        set(_program "${WORK_DIR}/tests/vmsg_exit_${_case}")
        execute_process(COMMAND "${_program}" ${_mode} RESULT_VARIABLE _rc
            OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
        if(_rc EQUAL 0 AND _out MATCHES "exit case: destroyed" AND NOT _out MATCHES "FAILED")
            message(STATUS "vmsg_exit_${_case} ${_mode}: passed")
        else()
            string(REGEX MATCHALL "exit case: [^\n]*" _said "${_out}")
            message(STATUS "vmsg_exit_${_case} ${_mode}: FAILED (exit status ${_rc}) ${_said}")
            list(APPEND _failures "vmsg_exit_${_case} ${_mode}")
        endif()
    endforeach()
endforeach()
if(_failures)
    string(REPLACE ";" "\n  " _failures "${_failures}")
    message(FATAL_ERROR "exit cases failed in the Release build:\n  ${_failures}")
endif()
