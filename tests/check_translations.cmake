# The catalogue must cover every text of the program: lupdate merges the texts the sources
# and forms use into a copy of it, and lrelease must then find nothing unfinished.
set(SOURCES ${SOURCE_ROOT}/app ${SOURCE_ROOT}/link ${SOURCE_ROOT}/operations ${SOURCE_ROOT}/forms
    ${SOURCE_ROOT}/monitor ${SOURCE_ROOT}/network ${SOURCE_ROOT}/protocol ${SOURCE_ROOT}/bus
    ${SOURCE_ROOT}/busview)
configure_file(${TS} ${WORK_TS} COPYONLY)
# -I: the namespaced classes of monitor/ are known by their headers, which name their folder.
execute_process(COMMAND ${LUPDATE} -silent -no-obsolete -locations none -I ${SOURCE_ROOT} ${SOURCES}
    -ts ${WORK_TS}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lupdate failed: ${out}${err}")
endif()
execute_process(COMMAND ${LRELEASE} ${WORK_TS} -qm ${OUT}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
message("${out}${err}")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lrelease failed")
endif()
if(NOT "${out}${err}" MATCHES "\\(([0-9]+) finished and 0 unfinished\\)")
    message(FATAL_ERROR "the catalogue lacks translations of texts the program shows")
endif()
if("${out}${err}" MATCHES "untranslated")
    message(FATAL_ERROR "the catalogue has untranslated source texts")
endif()
