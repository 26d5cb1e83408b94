# Checks what a Windows build ships. EXE must be a self-contained console
# program: the object format and optional-header magic of its POINTER_SIZE
# (4: pei-i386, PE32; 8: pei-x86-64, PE32+), console subsystem, no DLL
# imported beyond those every Windows has, and VERSION in the properties
# Windows shows. README, the zip's README.txt,
# must be UTF-8 with a byte-order mark, which Notepad needs to read it as
# UTF-8 in a Polish locale, and end every line with CR LF.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers) # what it cannot read has no headers
set(width "file format pei-i386\n" "(PE32)")
if(POINTER_SIZE EQUAL 8)
  set(width "file format pei-x86-64\n" "(PE32+)")
endif()
foreach(needed ${width} "(Windows CUI)")
  string(FIND "${headers}" "${needed}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${EXE}: no '${needed}' in its headers")
  endif()
endforeach()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT imports STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
  message(FATAL_ERROR "${EXE} imports ${imports}")
endif()

execute_process(COMMAND ${WINDRES} -i ${EXE} -O rc OUTPUT_VARIABLE resources)
foreach(key FileVersion ProductVersion)
  string(FIND "${resources}" "VALUE \"${key}\", \"${VERSION}\"" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${EXE}: its ${key} is not ${VERSION}")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/bytes.cmake)
read_bytes(${README} bytes)
string(REPLACE "0d 0a " "" lone "${bytes}") # no LF nor CR may be left
if(NOT bytes MATCHES "^ef bb bf " OR NOT bytes MATCHES "0d 0a " OR lone MATCHES "0[ad] ")
  message(FATAL_ERROR "${README}: not UTF-8 with a byte-order mark and CR LF throughout")
endif()
