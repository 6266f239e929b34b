# Run by CPack on the staged tree before it builds the package: gzip -9n, as Debian policy asks
# (maximum compression, no time stamp, so that the same sources give the same package).
file(GLOB_RECURSE pages
    ${CPACK_TEMPORARY_DIRECTORY}/*/share/man/*.[1-9]
    ${CPACK_TEMPORARY_DIRECTORY}/*/share/doc/quorvel/changelog)
foreach(page ${pages})
    execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip ${page} failed")
    endif()
endforeach()
