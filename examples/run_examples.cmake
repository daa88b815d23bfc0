# Converts the bundled examples in batch mode inside a scratch folder, so the checkout stays clean.
# Called by the run-examples target with the paths of the programs.
file(REMOVE_RECURSE "${SCRATCH}")
file(COPY "${SOURCE}/pages/" DESTINATION "${SCRATCH}")

execute_process(COMMAND "${MAKE_DOCS}" WORKING_DIRECTORY "${SCRATCH}" COMMAND_ERROR_IS_FATAL ANY)
foreach(program IN ITEMS "${HTML2RUXA}" "${DOC2RUXA}")
  message(STATUS "Running ${program} in ${SCRATCH}")
  execute_process(COMMAND "${program}" WORKING_DIRECTORY "${SCRATCH}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${program} ended with status ${status}")
  endif()
endforeach()

file(GLOB outputs RELATIVE "${SCRATCH}" "${SCRATCH}/*.htx" "${SCRATCH}/*.dox")
list(SORT outputs)
message(STATUS "Converted files in ${SCRATCH}: ${outputs}")
