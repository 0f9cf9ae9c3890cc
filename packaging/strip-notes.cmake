# Run by cpack on the staged files, after its own strip: drop the compiler's
# version stamps too, as Debian's own packaging tools do.
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
foreach(program ${programs})
    execute_process(COMMAND "${CPACK_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "could not strip ${program}")
    endif()
endforeach()
