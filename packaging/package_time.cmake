# Read by cpack first: SOURCE_DATE_EPOCH, the time of every archive entry: the
# packer's own, or the last commit's, or 1980-01-01. The commit's comes from
# git in the sources' own checkout, or from the file `git archive` fills in.
# A zip holds local time, so cpack and what it runs work in UTC.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  file(STRINGS ${CPACK_BIEGACZ_SOURCE_DIR}/packaging/commit_time epoch)
  if(EXISTS ${CPACK_BIEGACZ_SOURCE_DIR}/.git)
    # safe.directory: the checkout may belong to another user than the packer.
    execute_process(COMMAND git -c safe.directory=* -C ${CPACK_BIEGACZ_SOURCE_DIR} log -1 --format=%ct
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0) # else the packages would carry another time than the commit's
      message(FATAL_ERROR "Packing a clone needs git, for the commit's time (Debian: apt-get install git)")
    endif()
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(STATUS "No commit to date the packages by: they carry 1980-01-01")
    set(epoch 315532800)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
set(ENV{TZ} UTC)
