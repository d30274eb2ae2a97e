# Packaging tests, included from tests/CMakeLists.txt:
#   packaging.readelf            SONAME/NEEDED of libvmsg.so.0 and libvlog.so.0
#   packaging.install            cmake --install into a fresh prefix under the
#                                build tree (fixture for the two below)
#   packaging.pkgconfig_consumer tests/consumer/consumer.cpp built with
#                                g++ $(pkg-config --cflags --libs vmsg)
#   packaging.cmake_consumer     the same program built with find_package(vmsg)
# The steps themselves are in tests/consumer/driver.cmake.
# In a sanitizer tree (VMSG_SANITIZE=ON) the consumers are built with the
# same sanitizer flags, since the installed libraries need the runtime.

set(_vmsg_pkg_driver "${CMAKE_CURRENT_SOURCE_DIR}/consumer/driver.cmake")
set(_vmsg_pkg_work "${CMAKE_CURRENT_BINARY_DIR}/packaging")
set(_vmsg_pkg_prefix "${_vmsg_pkg_work}/prefix")
set(_vmsg_pkg_flags "")
if(VMSG_SANITIZE)
    set(_vmsg_pkg_flags "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer")
endif()

if(CMAKE_READELF)
    set(_vmsg_readelf "${CMAKE_READELF}")
else()
    find_program(VMSG_READELF readelf)
    set(_vmsg_readelf "${VMSG_READELF}")
endif()
if(_vmsg_readelf)
    add_test(NAME packaging.readelf
        COMMAND "${CMAKE_COMMAND}" -DSTEP=readelf
            "-DREADELF=${_vmsg_readelf}"
            "-DVMSG_FILE=$<TARGET_FILE:vmsg>"
            "-DVLOG_FILE=$<TARGET_FILE:vlog>"
            -P "${_vmsg_pkg_driver}")
else()
    message(WARNING "readelf not found: packaging.readelf is not added (install binutils)")
endif()

add_test(NAME packaging.install
    COMMAND "${CMAKE_COMMAND}" -DSTEP=install
        "-DBUILD_DIR=${PROJECT_BINARY_DIR}"
        "-DCONFIG=$<CONFIG>"
        "-DPREFIX=${_vmsg_pkg_prefix}"
        "-DLIBDIR=${CMAKE_INSTALL_LIBDIR}"
        "-DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}"
        "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}"
        -P "${_vmsg_pkg_driver}")
set_tests_properties(packaging.install PROPERTIES
    FIXTURES_SETUP vmsg_installed
    LABELS packaging)

add_test(NAME packaging.pkgconfig_consumer
    COMMAND "${CMAKE_COMMAND}" -DSTEP=pkgconfig
        "-DPREFIX=${_vmsg_pkg_prefix}"
        "-DLIBDIR=${CMAKE_INSTALL_LIBDIR}"
        "-DPKG_CONFIG=${PKG_CONFIG_EXECUTABLE}"
        "-DCXX=${CMAKE_CXX_COMPILER}"
        "-DEXTRA_FLAGS=${_vmsg_pkg_flags}"
        "-DWORK_DIR=${_vmsg_pkg_work}/pkgconfig-consumer"
        -P "${_vmsg_pkg_driver}")

add_test(NAME packaging.cmake_consumer
    COMMAND "${CMAKE_COMMAND}" -DSTEP=cmake
        "-DPREFIX=${_vmsg_pkg_prefix}"
        "-DLIBDIR=${CMAKE_INSTALL_LIBDIR}"
        "-DCXX=${CMAKE_CXX_COMPILER}"
        "-DGENERATOR=${CMAKE_GENERATOR}"
        "-DMAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}"
        "-DEXTRA_FLAGS=${_vmsg_pkg_flags}"
        "-DWORK_DIR=${_vmsg_pkg_work}/cmake-consumer"
        -P "${_vmsg_pkg_driver}")

add_test(NAME packaging.wire_alone
    COMMAND "${CMAKE_COMMAND}" -DSTEP=wire_alone
        "-DPREFIX=${_vmsg_pkg_prefix}"
        "-DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}"
        "-DCXX=${CMAKE_CXX_COMPILER}"
        "-DEXTRA_FLAGS=${_vmsg_pkg_flags}"
        "-DWORK_DIR=${_vmsg_pkg_work}/wire-alone"
        -P "${_vmsg_pkg_driver}")

set_tests_properties(packaging.pkgconfig_consumer packaging.cmake_consumer packaging.wire_alone PROPERTIES
    FIXTURES_REQUIRED vmsg_installed
    LABELS packaging
    TIMEOUT 300)
if(TEST packaging.readelf)
    set_tests_properties(packaging.readelf PROPERTIES LABELS packaging)
endif()

unset(_vmsg_pkg_driver)
unset(_vmsg_pkg_work)
unset(_vmsg_pkg_prefix)
unset(_vmsg_pkg_flags)
unset(_vmsg_readelf)
