# Fails when lrelease reports an unfinished or untranslated entry in the catalogue.
execute_process(COMMAND ${LRELEASE} ${TS} -qm ${OUT}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
message("${out}${err}")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lrelease failed")
endif()
if(NOT "${out}${err}" MATCHES "\\(([0-9]+) finished and 0 unfinished\\)")
    message(FATAL_ERROR "the catalogue has unfinished entries")
endif()
if("${out}${err}" MATCHES "untranslated")
    message(FATAL_ERROR "the catalogue has untranslated source texts")
endif()
