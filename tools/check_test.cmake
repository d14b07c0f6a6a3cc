# Runs katr_check (through the cross-build emulator, if any) and checks its
# exit code and combined output (standard error first, as a terminal shows
# the messages before the report). Variables: CHECK, EMULATOR, ARGS, EXPECT_RC,
# EXPECT (texts that must appear in this order), FORBID (a text that must not
# appear); lists are '|'-separated.
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${CHECK} ${args}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${err}${out}")
string(REPLACE "\r\n" "\n" all "${all}")
if(NOT rc STREQUAL EXPECT_RC)
  message(FATAL_ERROR "exit code ${rc}, expected ${EXPECT_RC}; output:\n${all}")
endif()
string(REPLACE "|" ";" expected "${EXPECT}")
set(rest "${all}")
foreach(text IN LISTS expected)
  string(FIND "${rest}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing (in this order): ${text}\noutput:\n${all}")
  endif()
  string(LENGTH "${text}" n)
  math(EXPR at "${at} + ${n}")
  string(SUBSTRING "${rest}" ${at} -1 rest)
endforeach()
if(NOT FORBID STREQUAL "")
  string(FIND "${all}" "${FORBID}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "unexpected: ${FORBID}\noutput:\n${all}")
  endif()
endif()
