# Install rules and package files for libvmsg and libvlog.
#
# Included from the top-level CMakeLists.txt after the targets `vlog` and
# `vmsg` are defined. Installs:
#   <prefix>/include/vmsg/        include/*.h and vlog/cVlog.h
#   <prefix>/<libdir>/            libvmsg.so*, libvlog.so*
#   <prefix>/<libdir>/pkgconfig/  vmsg.pc
#   <prefix>/<libdir>/cmake/vmsg/ vmsgConfig.cmake, vmsgConfigVersion.cmake,
#                                 vmsgTargets*.cmake (vmsg::vmsg, vmsg::vlog)
# Both the pkg-config file and the CMake package are relocatable, so
# `cmake --install <build> --prefix <anywhere>` gives a usable tree.

include(CMakePackageConfigHelpers)

set(VMSG_INSTALL_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}/vmsg")
set(VMSG_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/vmsg")
set(VMSG_INSTALL_PKGCONFIGDIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# Exported as vmsg::vmsg and vmsg::vlog.
set_target_properties(vlog PROPERTIES EXPORT_NAME vlog)
set_target_properties(vmsg PROPERTIES EXPORT_NAME vmsg)

install(TARGETS vlog vmsg
    EXPORT vmsgTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        COMPONENT Runtime
        NAMELINK_COMPONENT Development
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Development
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Runtime
    PUBLIC_HEADER DESTINATION "${VMSG_INSTALL_INCLUDEDIR}" COMPONENT Development)
# (The targets carry $<INSTALL_INTERFACE:include/vmsg> themselves.)

# The public headers of libvmsg (cVlog.h comes with vlog's PUBLIC_HEADER).
install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/"
    DESTINATION "${VMSG_INSTALL_INCLUDEDIR}"
    COMPONENT Development
    FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")

# CMake package: find_package(vmsg) -> vmsg::vmsg (and vmsg::vlog).
install(EXPORT vmsgTargets
    NAMESPACE vmsg::
    DESTINATION "${VMSG_INSTALL_CMAKEDIR}"
    COMPONENT Development)

configure_package_config_file(
    "${CMAKE_CURRENT_LIST_DIR}/vmsgConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/vmsgConfig.cmake"
    INSTALL_DESTINATION "${VMSG_INSTALL_CMAKEDIR}")
# The SOVERSION follows the major version, so any 0.x satisfies a request
# for 0.y with y <= x.
write_basic_package_version_file(
    "${PROJECT_BINARY_DIR}/vmsgConfigVersion.cmake"
    VERSION "${PROJECT_VERSION}"
    COMPATIBILITY SameMajorVersion)
install(FILES
        "${PROJECT_BINARY_DIR}/vmsgConfig.cmake"
        "${PROJECT_BINARY_DIR}/vmsgConfigVersion.cmake"
        "${CMAKE_CURRENT_LIST_DIR}/vmsgDictionary.cmake"
    DESTINATION "${VMSG_INSTALL_CMAKEDIR}"
    COMPONENT Development)

# pkg-config file. Its paths are relative to the .pc file's own location
# (${pcfiledir}) so that the installed tree can be moved or installed with
# --prefix / DESTDIR. Absolute install dirs are used as they are.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(VMSG_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
    file(RELATIVE_PATH _vmsg_pc_up "/p/${VMSG_INSTALL_PKGCONFIGDIR}" "/p")
    string(REGEX REPLACE "/$" "" _vmsg_pc_up "${_vmsg_pc_up}")
    set(VMSG_PC_PREFIX "\${pcfiledir}/${_vmsg_pc_up}")
    unset(_vmsg_pc_up)
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(VMSG_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
    set(VMSG_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(VMSG_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
    set(VMSG_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/vmsg.pc.in"
    "${PROJECT_BINARY_DIR}/vmsg.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/vmsg.pc"
    DESTINATION "${VMSG_INSTALL_PKGCONFIGDIR}"
    COMPONENT Development)

# Data for the tool and for applications, in <prefix>/share/vmsg/: the
# Wireshark dissector, the dictionary format's JSON Schema, the example
# dictionary and the example log4cpp configuration.
install(FILES
        "${PROJECT_SOURCE_DIR}/tools/wireshark/vmsg.lua"
        "${PROJECT_SOURCE_DIR}/examples/dictionary.json"
        "${PROJECT_SOURCE_DIR}/examples/log4cpp.properties"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/vmsg"
    COMPONENT Runtime)
install(FILES "${PROJECT_SOURCE_DIR}/docs/dictionary.schema.json"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/vmsg"
    COMPONENT Runtime
    OPTIONAL)
