# cmake -DINPUT=F -DACTUAL=F [-DEXPECTED=F] [-DCRLF=ON] "-DCOMMAND=PROGRAM;ARG..." -P run_transcript.cmake
# Runs COMMAND (the program, after its emulator if any) on INPUT into ACTUAL
# and checks that it exits 0 and writes nothing on standard error; then that
# ACTUAL is EXPECTED, byte for byte, or with CRLF set, EXPECTED with each LF
# written as CR LF (the transcripts hold no CR). Without EXPECTED, ACTUAL is
# left as written: that is how the transcripts are regenerated.
include(${CMAKE_CURRENT_LIST_DIR}/bytes.cmake)
execute_process(COMMAND ${COMMAND}
  INPUT_FILE ${INPUT} OUTPUT_FILE ${ACTUAL} ERROR_VARIABLE errors RESULT_VARIABLE rc)
# The program never writes to standard error; a sanitizer or the emulator would.
if(NOT rc STREQUAL "0" OR NOT errors STREQUAL "")
  message(FATAL_ERROR "exit status ${rc} (0 expected), standard error (none expected):\n${errors}")
endif()
if(NOT DEFINED EXPECTED)
  return()
endif()

read_bytes(${ACTUAL} actual)
read_bytes(${EXPECTED} expected)
set(line_ends "")
if(CRLF)
  string(REPLACE "0a " "0d 0a " expected "${expected}")
  set(line_ends ", each line ended with CR LF")
endif()
if(NOT actual STREQUAL expected)
  execute_process(COMMAND diff -u --strip-trailing-cr ${EXPECTED} ${ACTUAL})
  message(FATAL_ERROR "${ACTUAL} is not ${EXPECTED}${line_ends}")
endif()
