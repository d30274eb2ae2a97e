# The module's pytest suite, one ctest test per file (python.<file>), run
# with the interpreter the module was built for. The tests compare the
# module with the tool of the same tree (VMSG_TOOL).
#
# In the ASan tree the interpreter itself is not instrumented, so the
# sanitizer runtimes are preloaded into it, and Python's own allocator is
# switched to malloc (PYTHONMALLOC=malloc): every Python object is then a
# heap block that LeakSanitizer sees and scans, so an object still in use
# at exit is reachable and only true leaks are reported, with no
# suppressions. (With pymalloc, objects live in arenas that LeakSanitizer
# does not scan, and the blocks they point to look leaked.)
set(_vmsg_py_env
    "PYTHONPATH=$<TARGET_FILE_DIR:vmsg_python>"
    "PYTHONDONTWRITEBYTECODE=1"
    "VMSG_TOOL=$<TARGET_FILE:vmsg-tool>"
    "VMSG_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
if(VMSG_SANITIZE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
        OUTPUT_VARIABLE _vmsg_asan OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libubsan.so
        OUTPUT_VARIABLE _vmsg_ubsan OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND _vmsg_py_env "LD_PRELOAD=${_vmsg_asan}:${_vmsg_ubsan}" "PYTHONMALLOC=malloc")
endif()

file(GLOB _vmsg_py_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_*.py)
foreach(_vmsg_py_test IN LISTS _vmsg_py_tests)
    get_filename_component(_vmsg_py_name ${_vmsg_py_test} NAME_WE)
    string(REGEX REPLACE "^test_" "" _vmsg_py_name ${_vmsg_py_name})
    add_test(NAME python.${_vmsg_py_name}
        COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${_vmsg_py_test})
    set_tests_properties(python.${_vmsg_py_name} PROPERTIES
        ENVIRONMENT "${_vmsg_py_env}" LABELS python TIMEOUT 300)
endforeach()

# The session of docs/python.md, run as a doctest from the root (it loads
# examples/dictionary.json).
add_test(NAME python.docs_session COMMAND ${Python3_EXECUTABLE} -m doctest docs/python.md
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
set(_vmsg_py_docs_env "${_vmsg_py_env}")
if(VMSG_SANITIZE)
    # LeakSanitizer's tracer dies (SIGSEGV in its own thread) at the exit of
    # this doctest process; the module's calls in the session are run with
    # leak checks by the python.* suites above, so this run checks the
    # session's output and ASan's other checks only.
    list(APPEND _vmsg_py_docs_env "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:halt_on_error=1")
endif()
set_tests_properties(python.docs_session PROPERTIES ENVIRONMENT "${_vmsg_py_docs_env}" LABELS python)

# The module as installed by packaging.install (tests/packaging.cmake) into
# a prefix of the build tree, found there with the library beside it.
if(NOT IS_ABSOLUTE "${VMSG_PYTHON_INSTALL_DIR}")
    set(_vmsg_py_prefix "${PROJECT_BINARY_DIR}/tests/packaging/prefix")
    add_test(NAME python.installed
        COMMAND ${Python3_EXECUTABLE} -c
            "import vmsg; assert vmsg.__file__.startswith('${_vmsg_py_prefix}/'), vmsg.__file__; \
assert vmsg.decode(vmsg.Message(0x21).u8(5, 7).encode()).tags == [(5, 'u8', 7)]; print(vmsg.__file__)")
    set(_vmsg_py_installed_env "${_vmsg_py_env}")
    list(FILTER _vmsg_py_installed_env EXCLUDE REGEX "^PYTHONPATH=")
    list(APPEND _vmsg_py_installed_env "PYTHONPATH=${_vmsg_py_prefix}/${VMSG_PYTHON_INSTALL_DIR}"
        "LD_LIBRARY_PATH=${_vmsg_py_prefix}/${CMAKE_INSTALL_LIBDIR}")
    # (Run in the prefix: python -c looks in its working directory first.)
    set_tests_properties(python.installed PROPERTIES WORKING_DIRECTORY "${_vmsg_py_prefix}"
        ENVIRONMENT "${_vmsg_py_installed_env}" FIXTURES_REQUIRED vmsg_installed LABELS "python;packaging")
    unset(_vmsg_py_prefix)
    unset(_vmsg_py_installed_env)
endif()

# The UDP examples of examples/python against the C++ ones, with the
# script that runs the C++ pairs. The scripts run through small wrappers
# that give them this tree's module and interpreter.
if(VMSG_BUILD_EXAMPLES)
    foreach(_vmsg_py_example sender receiver)
        set(_vmsg_py_wrapper ${CMAKE_CURRENT_BINARY_DIR}/vmsg_py_${_vmsg_py_example})
        string(REPLACE ";" "' '" _vmsg_py_quoted "${_vmsg_py_env}")
        file(GENERATE OUTPUT ${_vmsg_py_wrapper}
            CONTENT "#!/bin/sh\nexec env '${_vmsg_py_quoted}' ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/examples/python/${_vmsg_py_example}.py \"$@\"\n"
            FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endforeach()
    # Each Python program against the modern C++ one and the classic one.
    find_program(VMSG_BASH bash)
    set(_vmsg_py_udp_tests "")
    foreach(_vmsg_py_pair
            "python_sender;vmsg_receiver;PY_sender"
            "python_receiver;PY_receiver;vmsg_sender"
            "python_sender_classic;vmsg_classic_receiver;PY_sender"
            "python_receiver_classic;PY_receiver;vmsg_classic_sender")
        set(_vmsg_py_programs "")
        foreach(_vmsg_py_index 1 2)
            list(GET _vmsg_py_pair ${_vmsg_py_index} _vmsg_py_program)
            if(_vmsg_py_program MATCHES "^PY_(.*)")
                list(APPEND _vmsg_py_programs ${CMAKE_CURRENT_BINARY_DIR}/vmsg_py_${CMAKE_MATCH_1})
            else()
                list(APPEND _vmsg_py_programs $<TARGET_FILE:${_vmsg_py_program}>)
            endif()
        endforeach()
        list(GET _vmsg_py_pair 0 _vmsg_py_name)
        string(REPLACE "_" "-" _vmsg_py_dir "udp-exchange-${_vmsg_py_name}")
        add_test(NAME examples.udp_exchange_${_vmsg_py_name}
            COMMAND ${VMSG_BASH} ${PROJECT_SOURCE_DIR}/examples/udp_exchange.sh
                ${_vmsg_py_programs} ${CMAKE_CURRENT_BINARY_DIR}/${_vmsg_py_dir})
        list(APPEND _vmsg_py_udp_tests examples.udp_exchange_${_vmsg_py_name})
    endforeach()
    set_tests_properties(${_vmsg_py_udp_tests} PROPERTIES LABELS python TIMEOUT 60)
    unset(_vmsg_py_udp_tests)
    unset(_vmsg_py_pair)
    unset(_vmsg_py_programs)
    unset(_vmsg_py_index)
    unset(_vmsg_py_program)
    unset(_vmsg_py_name)
    unset(_vmsg_py_dir)
    unset(_vmsg_py_wrapper)
    unset(_vmsg_py_quoted)
endif()
unset(_vmsg_py_env)
unset(_vmsg_py_tests)
unset(_vmsg_py_name)
