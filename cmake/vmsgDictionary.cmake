# vmsg_add_dictionary: C++ generated from a dictionary file for a target.
#
#   vmsg_add_dictionary(TARGET <target> DICTIONARY <file.json>
#                       [NAMESPACE <name>] [HEADER <name.h>] [PUBLIC])
#
# Generates <name.h> (default: the dictionary's name with .h, for
# dictionary.json "dictionary.h") with `vmsg dict gen` into
# <binary dir>/vmsg_dictionaries/<target>/, adds that directory to the
# target's include path and links the target with vmsg::vmsg, so that the
# target's sources #include "<name.h>". The header is generated again when
# the dictionary file changes, and a dictionary that breaks the rules of
# the format fails the build with every problem named. NAMESPACE is the
# namespace of the generated code (default: the dictionary's name). With
# PUBLIC the include path and vmsg::vmsg pass on to the targets that link
# <target> (for a library whose headers include the generated one).
#
# The generator is the vmsg tool: the target vmsg::vmsg-tool of the
# installed package (or vmsg-tool inside the vmsg build itself), else the
# program vmsg found on the path or in VMSG_TOOL.
function(vmsg_add_dictionary)
    cmake_parse_arguments(PARSE_ARGV 0 _vmsg "PUBLIC" "TARGET;DICTIONARY;NAMESPACE;HEADER" "")
    if(NOT _vmsg_TARGET OR NOT _vmsg_DICTIONARY)
        message(FATAL_ERROR "vmsg_add_dictionary: TARGET and DICTIONARY are required")
    endif()
    if(_vmsg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "vmsg_add_dictionary: unknown arguments: ${_vmsg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT TARGET ${_vmsg_TARGET})
        message(FATAL_ERROR "vmsg_add_dictionary: ${_vmsg_TARGET} is not a target")
    endif()

    if(TARGET vmsg::vmsg-tool)
        set(_tool "$<TARGET_FILE:vmsg::vmsg-tool>")
        set(_tool_depends "$<TARGET_FILE:vmsg::vmsg-tool>")
    elseif(TARGET vmsg-tool)
        set(_tool "$<TARGET_FILE:vmsg-tool>")
        set(_tool_depends vmsg-tool)
    else()
        find_program(VMSG_TOOL vmsg DOC "the vmsg tool, which generates C++ from dictionaries")
        if(NOT VMSG_TOOL)
            message(FATAL_ERROR "vmsg_add_dictionary: the vmsg tool was not found (Debian: vmsg-tools); "
                                "set VMSG_TOOL to its path")
        endif()
        set(_tool "${VMSG_TOOL}")
        set(_tool_depends "${VMSG_TOOL}")
    endif()

    get_filename_component(_dictionary "${_vmsg_DICTIONARY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(_stem "${_dictionary}" NAME_WE)
    set(_header "${_vmsg_HEADER}")
    if(NOT _header)
        set(_header "${_stem}.h")
    endif()
    set(_dir "${CMAKE_CURRENT_BINARY_DIR}/vmsg_dictionaries/${_vmsg_TARGET}")
    set(_namespace "")
    if(_vmsg_NAMESPACE)
        set(_namespace --namespace "${_vmsg_NAMESPACE}")
    endif()
    add_custom_command(
        OUTPUT "${_dir}/${_header}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${_dir}"
        COMMAND "${_tool}" dict gen "${_dictionary}" -o "${_dir}/${_header}" ${_namespace}
        DEPENDS "${_dictionary}" ${_tool_depends}
        COMMENT "Generating ${_header} from ${_vmsg_DICTIONARY}"
        VERBATIM)
    set(_scope PRIVATE)
    if(_vmsg_PUBLIC)
        set(_scope PUBLIC)
    endif()
    target_sources(${_vmsg_TARGET} PRIVATE "${_dir}/${_header}")
    target_include_directories(${_vmsg_TARGET} ${_scope} "${_dir}")
    target_link_libraries(${_vmsg_TARGET} ${_scope} vmsg::vmsg)
endfunction()
