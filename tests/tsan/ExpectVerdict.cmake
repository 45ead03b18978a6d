# Runs PROGRAM MODE under the thread sanitizer with the suppressions of SUPPRESSIONS and checks the
# verdict: EXPECT "race" wants a non-zero exit and a data race report, "clean" an exit of 0 and
# no report.
set(ENV{TSAN_OPTIONS} "suppressions=${SUPPRESSIONS}:print_suppressions=0")
execute_process(COMMAND "${PROGRAM}" "${MODE}" RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
string(FIND "${out}${err}" "data race" at)
if(EXPECT STREQUAL "race")
  if(rc EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "${MODE}: the planted race was not reported (exit ${rc})\n${out}${err}")
  endif()
elseif(NOT rc EQUAL 0 OR NOT at EQUAL -1)
  message(FATAL_ERROR "${MODE}: a report where none belongs (exit ${rc})\n${out}${err}")
endif()
message(STATUS "${MODE}: exit ${rc}, as expected")
