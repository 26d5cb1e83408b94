# Checks that EXE is a self-contained Windows console program: object FORMAT
# (pei-i386, pei-x86-64), optional-header MAGIC (PE32, PE32+), console
# subsystem, and no DLL imported beyond those every Windows has.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc STREQUAL "0")
  message(FATAL_ERROR "${OBJDUMP} could not read ${EXE}")
endif()
foreach(needed "file format ${FORMAT}\n" "(${MAGIC})" "(Windows CUI)")
  string(FIND "${headers}" "${needed}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${EXE}: no '${needed}' in its headers")
  endif()
endforeach()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT imports STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
  message(FATAL_ERROR "${EXE} imports ${imports}")
endif()
