# Run by cpack on the archives it has just made, before it writes their
# checksums: rewritten by archives.py, their bytes depend on the packaged
# files and SOURCE_DATE_EPOCH alone. Where that fails, the archives go, so
# that no package in another form is left beside a failed packing.
find_program(python3 NAMES python3)
if(python3)
  execute_process(COMMAND ${python3} ${CMAKE_CURRENT_LIST_DIR}/archives.py normalise ${CPACK_PACKAGE_FILES}
    RESULT_VARIABLE failed)
else()
  set(failed "Packing needs Python 3 (Debian: apt-get install python3)")
endif()
if(failed)
  file(REMOVE ${CPACK_PACKAGE_FILES})
  message(FATAL_ERROR "The packages could not be normalised: ${failed}")
endif()
