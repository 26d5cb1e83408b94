# Read by cpack before anything else, so that two builds of one commit pack
# the same bytes whenever and wherever they run. Archive entries carry
# SOURCE_DATE_EPOCH as their time: the packer's own value where one is set;
# otherwise the time of the sources' last commit, asked of git in a checkout
# or, in a release's source archive, read from the file that `git archive`
# filled in; failing both, the first moment a zip can record (1980-01-01
# 00:00 UTC). A zip records local time, so cpack runs in UTC; this must be
# set before it first reads the clock.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(sources ${CPACK_BIEGACZ_SOURCE_DIR})
  set(epoch "")
  # Only the sources' own checkout: unpacked inside some other work tree, a
  # source archive would otherwise take that tree's last commit. safe.directory
  # lets git read a checkout that belongs to another user than the packer.
  if(EXISTS ${sources}/.git)
    execute_process(COMMAND git -c safe.directory=* -C ${sources} log -1 --format=%ct
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    file(STRINGS ${sources}/packaging/commit_time epoch LIMIT_COUNT 1)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(STATUS "No git commit to date the packages by: they carry 1980-01-01")
    set(epoch 315532800)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
set(ENV{TZ} UTC)
