# Steps of the packaging tests, run by ctest as `cmake -DSTEP=<step> ... -P`.
# See tests/packaging.cmake for how each step is called.
#
#   install    cmake --install BUILD_DIR --prefix PREFIX (into an emptied
#              PREFIX), then check the installed layout.
#   pkgconfig  compile consumer.cpp with
#              CXX EXTRA_FLAGS consumer.cpp $(pkg-config --cflags --libs vmsg)
#              with PKG_CONFIG_PATH=PREFIX/LIBDIR/pkgconfig, run it with
#              LD_LIBRARY_PATH=PREFIX/LIBDIR.
#   cmake      configure and build tests/consumer/CMakeLists.txt
#              (find_package(vmsg)) with CMAKE_PREFIX_PATH=PREFIX, run it.
#   wire_alone compile a program that includes only <VWire.h> from
#              PREFIX/INCLUDEDIR/vmsg with g++ -H: no other header of the
#              library and none of log4cpp is opened.
#   readelf    check SONAME and NEEDED entries of VMSG_FILE and VLOG_FILE.
cmake_minimum_required(VERSION 3.16)

function(run_checked)
    cmake_parse_arguments(RC "" "WHAT" "COMMAND" ${ARGN})
    string(REPLACE ";" " " _shown "${RC_COMMAND}")
    message(STATUS "${RC_WHAT}: ${_shown}")
    execute_process(COMMAND ${RC_COMMAND} RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "${RC_WHAT} failed (${_rc}): ${_shown}")
    endif()
endfunction()

function(require_vars)
    foreach(_var IN LISTS ARGN)
        if(NOT DEFINED ${_var} OR "${${_var}}" STREQUAL "")
            message(FATAL_ERROR "driver.cmake step ${STEP}: -D${_var}=... is missing")
        endif()
    endforeach()
endfunction()

# Make the run independent of the caller's environment.
unset(ENV{DESTDIR})
set(_here "${CMAKE_CURRENT_LIST_DIR}")
if(DEFINED EXTRA_FLAGS)
    separate_arguments(_extra_flags UNIX_COMMAND "${EXTRA_FLAGS}")
else()
    set(_extra_flags "")
endif()
if(DEFINED PREFIX AND DEFINED LIBDIR)
    set(_libdir "${PREFIX}/${LIBDIR}")
    if(DEFINED ENV{LD_LIBRARY_PATH} AND NOT "$ENV{LD_LIBRARY_PATH}" STREQUAL "")
        set(ENV{LD_LIBRARY_PATH} "${_libdir}:$ENV{LD_LIBRARY_PATH}")
    else()
        set(ENV{LD_LIBRARY_PATH} "${_libdir}")
    endif()
endif()

if(STEP STREQUAL "install")
    require_vars(BUILD_DIR PREFIX LIBDIR INCLUDEDIR SOURCE_DIR)
    file(REMOVE_RECURSE "${PREFIX}")
    set(_config "")
    if(DEFINED CONFIG AND NOT CONFIG STREQUAL "")
        set(_config --config "${CONFIG}")
    endif()
    run_checked(WHAT "install" COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}"
        --prefix "${PREFIX}" ${_config})

    set(_expected
        "${INCLUDEDIR}/vmsg/cVlog.h"
        "${LIBDIR}/libvmsg.so" "${LIBDIR}/libvmsg.so.0"
        "${LIBDIR}/libvlog.so" "${LIBDIR}/libvlog.so.0"
        "${LIBDIR}/pkgconfig/vmsg.pc"
        "${LIBDIR}/cmake/vmsg/vmsgConfig.cmake"
        "${LIBDIR}/cmake/vmsg/vmsgConfigVersion.cmake"
        "${LIBDIR}/cmake/vmsg/vmsgTargets.cmake"
        share/vmsg/vmsg.lua share/vmsg/dictionary.json share/vmsg/log4cpp.properties)
    file(GLOB _headers RELATIVE "${SOURCE_DIR}/include" "${SOURCE_DIR}/include/*.h")
    foreach(_h IN LISTS _headers)
        list(APPEND _expected "${INCLUDEDIR}/vmsg/${_h}")
    endforeach()
    set(_missing "")
    foreach(_f IN LISTS _expected)
        if(NOT EXISTS "${PREFIX}/${_f}")
            list(APPEND _missing "${_f}")
        endif()
    endforeach()
    if(_missing)
        file(GLOB_RECURSE _have RELATIVE "${PREFIX}" "${PREFIX}/*")
        string(REPLACE ";" "\n  " _have "${_have}")
        string(REPLACE ";" "\n  " _missing "${_missing}")
        message(FATAL_ERROR "missing from the installed tree:\n  ${_missing}\ninstalled:\n  ${_have}")
    endif()
    message(STATUS "installed tree in ${PREFIX} is complete")

elseif(STEP STREQUAL "pkgconfig")
    require_vars(PREFIX LIBDIR PKG_CONFIG CXX WORK_DIR)
    file(REMOVE_RECURSE "${WORK_DIR}")
    file(MAKE_DIRECTORY "${WORK_DIR}")
    set(ENV{PKG_CONFIG_PATH} "${PREFIX}/${LIBDIR}/pkgconfig")
    execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs vmsg
        RESULT_VARIABLE _rc OUTPUT_VARIABLE _flags ERROR_VARIABLE _err
        OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "pkg-config --cflags --libs vmsg failed (${_rc}): ${_err}")
    endif()
    message(STATUS "pkg-config --cflags --libs vmsg: ${_flags}")
    # Plain paths of the prefix, not "lib/pkgconfig/../..".
    if(_flags MATCHES "(^|/)\\.\\.(/|$| )")
        message(FATAL_ERROR "pkg-config --cflags --libs vmsg gives paths with '..': ${_flags}")
    endif()
    if(NOT _flags MATCHES "-I${PREFIX}/[^ ]*include/vmsg( |$)")
        message(FATAL_ERROR "pkg-config --cflags vmsg does not name ${PREFIX}/.../include/vmsg: ${_flags}")
    endif()
    execute_process(COMMAND "${PKG_CONFIG}" --variable=prefix vmsg
        OUTPUT_VARIABLE _pc_prefix OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(_pc_prefix "${_pc_prefix}" REALPATH)
    get_filename_component(_prefix_real "${PREFIX}" REALPATH)
    if(NOT _pc_prefix STREQUAL _prefix_real)
        message(FATAL_ERROR "vmsg.pc resolves its prefix to ${_pc_prefix}, not ${PREFIX}")
    endif()
    separate_arguments(_flags UNIX_COMMAND "${_flags}")
    run_checked(WHAT "compile" COMMAND "${CXX}" -std=c++17 ${_extra_flags}
        "${_here}/consumer.cpp" ${_flags} -o "${WORK_DIR}/consumer")
    run_checked(WHAT "run" COMMAND "${WORK_DIR}/consumer")

elseif(STEP STREQUAL "cmake")
    require_vars(PREFIX LIBDIR CXX WORK_DIR GENERATOR)
    file(REMOVE_RECURSE "${WORK_DIR}")
    set(_args -S "${_here}" -B "${WORK_DIR}" -G "${GENERATOR}"
        "-DCMAKE_CXX_COMPILER=${CXX}"
        "-DCMAKE_PREFIX_PATH=${PREFIX}"
        "-DVMSG_EXPECTED_PREFIX=${PREFIX}"
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
    if(DEFINED MAKE_PROGRAM AND NOT MAKE_PROGRAM STREQUAL "")
        list(APPEND _args "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}")
    endif()
    if(DEFINED EXTRA_FLAGS AND NOT EXTRA_FLAGS STREQUAL "")
        # CMAKE_CXX_FLAGS is used for compiling and linking alike.
        list(APPEND _args "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}")
    endif()
    run_checked(WHAT "configure" COMMAND "${CMAKE_COMMAND}" ${_args})
    run_checked(WHAT "build" COMMAND "${CMAKE_COMMAND}" --build "${WORK_DIR}")
    run_checked(WHAT "run" COMMAND "${WORK_DIR}/consumer")

elseif(STEP STREQUAL "wire_alone")
    # A program that includes only <VWire.h> from the installed headers,
    # with nothing else on its include path, compiles, and g++ -H shows
    # that it opened no other header of the library and none of log4cpp.
    require_vars(PREFIX INCLUDEDIR CXX WORK_DIR)
    file(REMOVE_RECURSE "${WORK_DIR}")
    file(MAKE_DIRECTORY "${WORK_DIR}")
    set(_source "${WORK_DIR}/wire_alone.cpp")
    file(WRITE "${_source}" "#include <VWire.h>\nint main()\n{\n    unsigned char block[vmsg::kMaxBlock];\n"
        "    vmsg::Writer writer(block, sizeof block, 1);\n    writer.u8(2, 3);\n"
        "    vmsg::Reader reader(block, writer.size());\n    vmsg::TagView tag;\n"
        "    return reader.next(tag) && tag.u8() == 3 ? 0 : 1;\n}\n")
    set(_headers "${PREFIX}/${INCLUDEDIR}/vmsg")
    execute_process(COMMAND "${CXX}" -std=c++17 -H ${_extra_flags} -I "${_headers}" "${_source}"
            -o "${WORK_DIR}/wire_alone"
        RESULT_VARIABLE _rc ERROR_VARIABLE _opened)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "a program including only <VWire.h> does not compile (${_rc}):\n${_opened}")
    endif()
    string(REGEX MATCHALL "[^\n]*(${_headers}/|log4cpp)[^\n]*" _project "${_opened}")
    list(FILTER _project EXCLUDE REGEX "^\\.+ ${_headers}/VWire\\.h$")
    if(_project)
        string(REPLACE ";" "\n  " _project "${_project}")
        message(FATAL_ERROR "<VWire.h> opens more than itself:\n  ${_project}")
    endif()
    run_checked(WHAT "run" COMMAND "${WORK_DIR}/wire_alone")
    message(STATUS "<VWire.h> stands alone")

elseif(STEP STREQUAL "readelf")
    require_vars(READELF VMSG_FILE VLOG_FILE)
    set(_failures "")
    foreach(_lib vmsg vlog)
        if(_lib STREQUAL "vmsg")
            set(_file "${VMSG_FILE}")
            set(_soname "libvmsg.so.0")
            set(_needed libvlog.so.0 liblog4cpp.so.5)
        else()
            set(_file "${VLOG_FILE}")
            set(_soname "libvlog.so.0")
            set(_needed liblog4cpp.so.5)
        endif()
        execute_process(COMMAND "${READELF}" -d "${_file}"
            RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR "readelf -d ${_file} failed (${_rc}): ${_err}")
        endif()
        message(STATUS "readelf -d ${_file}:\n${_out}")
        string(REGEX MATCHALL "\\(SONAME\\)[^\n]*\\[[^]\n]*\\]" _sonames "${_out}")
        if(NOT _sonames MATCHES "\\[${_soname}\\]$" OR NOT _sonames MATCHES "^[^;]*$")
            list(APPEND _failures "${_file}: SONAME is '${_sonames}', expected [${_soname}]")
        endif()
        foreach(_n IN LISTS _needed)
            string(REPLACE "." "\\." _re "${_n}")
            if(NOT _out MATCHES "\\(NEEDED\\)[^\n]*\\[${_re}\\]")
                list(APPEND _failures "${_file}: no NEEDED entry for ${_n}")
            endif()
        endforeach()
    endforeach()
    if(_failures)
        string(REPLACE ";" "\n  " _failures "${_failures}")
        message(FATAL_ERROR "ELF checks failed:\n  ${_failures}")
    endif()
    message(STATUS "SONAME and NEEDED entries are as expected")

else()
    message(FATAL_ERROR "driver.cmake: unknown STEP '${STEP}'")
endif()
