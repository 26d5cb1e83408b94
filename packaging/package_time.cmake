# Read by cpack before anything else, so that two builds of one commit pack
# the same bytes whenever and wherever they run. Archive entries carry
# SOURCE_DATE_EPOCH as their time: the packer's own value where one is set,
# otherwise the time of the last commit of the sources, and where they are no
# git checkout, the first moment a zip can record (1980-01-01 00:00 UTC). A
# zip records local time, so cpack runs in UTC; this must be set before it
# first reads the clock.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  # Also where the sources belong to another user than the packer's, whom
  # git would otherwise not trust.
  execute_process(COMMAND git -c safe.directory=* -C ${CPACK_BIEGACZ_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    message(STATUS "No git commit to date the packages by: they carry 1980-01-01")
    set(epoch 315532800)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
set(ENV{TZ} UTC)
