# The one way a help file is compiled, for the program's help and the test help files.
#
# kavurio_compile_help(PROJECT <dir>/<name>.hhp OUTPUT <file.chm> [EXTRA file...] [OPTIONS arg...])
#   Compiles <name>.hhp with chmcmd into OUTPUT. chmcmd writes beside its project,
#   so it works on a copy of the project's folder (with the EXTRA files added);
#   it also exits 0 on failure, so the copy of its <name>.chm is the check.
include_guard(GLOBAL)

find_program(KAVURIO_CHMCMD chmcmd)

function(kavurio_compile_help)
    cmake_parse_arguments(H "" "PROJECT;OUTPUT" "EXTRA;OPTIONS" ${ARGN})
    if(NOT KAVURIO_CHMCMD)
        message(FATAL_ERROR "chmcmd (Debian package fp-utils) is needed to compile ${H_PROJECT}")
    endif()
    get_filename_component(source ${H_PROJECT} DIRECTORY)
    get_filename_component(project ${H_PROJECT} NAME)
    get_filename_component(name ${H_PROJECT} NAME_WE)
    get_filename_component(output_name ${H_OUTPUT} NAME_WE)
    get_filename_component(output_dir ${H_OUTPUT} DIRECTORY)
    set(work ${CMAKE_CURRENT_BINARY_DIR}/help-work/${output_name})
    file(GLOB_RECURSE inputs CONFIGURE_DEPENDS ${source}/*)
    set(add_extra)
    if(H_EXTRA)
        set(add_extra COMMAND ${CMAKE_COMMAND} -E copy ${H_EXTRA} ${work})
    endif()
    add_custom_command(
        OUTPUT ${H_OUTPUT}
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${work}
        COMMAND ${CMAKE_COMMAND} -E copy_directory ${source} ${work}
        ${add_extra}
        COMMAND ${CMAKE_COMMAND} -E chdir ${work} ${KAVURIO_CHMCMD} ${H_OPTIONS} ${project}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
        COMMAND ${CMAKE_COMMAND} -E copy ${work}/${name}.chm ${H_OUTPUT}
        DEPENDS ${inputs} ${H_EXTRA}
        COMMENT "Compiling the help file ${project}"
        VERBATIM)
endfunction()
