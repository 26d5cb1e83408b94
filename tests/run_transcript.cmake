# Runs PROGRAM (through EMULATOR, '|'-separated, if set) on INPUT and checks
# that it exits 0, writes exactly EXPECTED and nothing on standard error. With
# CRLF set, every line must end in CR LF, and be EXPECTED once each is LF.
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${PROGRAM}
  INPUT_FILE ${INPUT} OUTPUT_FILE ${ACTUAL} ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc STREQUAL "0")
  message(FATAL_ERROR "exit status ${rc}, expected 0\n${errors}")
endif()
# The program never writes to standard error; a sanitizer or the emulator would.
if(NOT errors STREQUAL "")
  message(FATAL_ERROR "standard error:\n${errors}")
endif()

# Compared as hex bytes, one per space-ended field: file(READ) in text form
# would drop the very CRs this checks, and a field never straddles two bytes.
function(read_bytes file out)
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "(..)" "\\1 " bytes "${hex}")
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()
read_bytes(${ACTUAL} actual)
read_bytes(${EXPECTED} expected)

if(CRLF)
  string(REPLACE "0d 0a " "0a " lf "${actual}")
  string(REPLACE "0a " "0d 0a " back "${lf}")
  string(FIND "${lf}" "0d " lone_cr)
  if(NOT back STREQUAL actual OR NOT lone_cr EQUAL -1)
    message(FATAL_ERROR "${ACTUAL}: a line break other than CR LF")
  endif()
  set(actual "${lf}")
endif()

if(NOT actual STREQUAL expected)
  execute_process(COMMAND diff -u --strip-trailing-cr ${EXPECTED} ${ACTUAL})
  message(FATAL_ERROR "${ACTUAL} differs from ${EXPECTED}")
endif()
