# Run by cpack on the archives it has just made, before it writes their
# checksums: rewritten by archives.py, their bytes depend on the packaged
# files and SOURCE_DATE_EPOCH alone.
find_program(python3 NAMES python3)
if(NOT python3)
  message(FATAL_ERROR "Packing needs Python 3 (Debian: apt-get install python3)")
endif()
execute_process(COMMAND ${python3} ${CMAKE_CURRENT_LIST_DIR}/archives.py normalise ${CPACK_PACKAGE_FILES}
  COMMAND_ERROR_IS_FATAL ANY)
