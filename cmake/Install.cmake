# Install rules and package files for libvmsg and libvlog.
#
# Included from the top-level CMakeLists.txt after the targets `vlog` and
# `vmsg` are defined. Installs:
#   <prefix>/include/vmsg/        include/*.h and vlog/cVlog.h
#   <prefix>/<libdir>/            libvmsg.so*, libvlog.so*
#   <prefix>/<libdir>/pkgconfig/  vmsg.pc
#   <prefix>/<libdir>/cmake/vmsg/ vmsgConfig.cmake, vmsgConfigVersion.cmake,
#                                 vmsgTargets*.cmake (vmsg::vmsg, vmsg::vlog)
# `cmake --install <build> --prefix <anywhere>` gives a usable tree: the
# CMake package is relocatable, the pkg-config file is written for the
# prefix installed to.

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

# pkg-config file, written when it is installed, for the prefix installed
# to (`cmake --install --prefix P` gives P; a DESTDIR is left out, as the
# files are used from the prefix): plain absolute paths such as
# -I/usr/include/vmsg, with no "lib/pkgconfig/../.." in them.
# Absolute install dirs are used as they are.
foreach(_vmsg_pc_dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${_vmsg_pc_dir}}")
        set(VMSG_PC_${_vmsg_pc_dir} "${CMAKE_INSTALL_${_vmsg_pc_dir}}")
    else()
        set(VMSG_PC_${_vmsg_pc_dir} "\${prefix}/${CMAKE_INSTALL_${_vmsg_pc_dir}}")
    endif()
endforeach()
unset(_vmsg_pc_dir)
set(VMSG_PC_PREFIX "@VMSG_PC_INSTALL_PREFIX@")
configure_file("${CMAKE_CURRENT_LIST_DIR}/vmsg.pc.in" "${PROJECT_BINARY_DIR}/vmsg.pc.in" @ONLY)
install(CODE "
    # vmsg.pc for this prefix, without a trailing slash.
    string(REGEX REPLACE \"(.)/+$\" \"\\\\1\" VMSG_PC_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${PROJECT_BINARY_DIR}/vmsg.pc.in\" \"${PROJECT_BINARY_DIR}/vmsg.pc\" @ONLY)"
    COMPONENT Development)
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
