# Run by cpack on the archives it has just made: packs the tarball again with
# GNU tar and gzip, sorted, 0/0, fixed modes and times, and normalises the zip
# with strip-nondeterminism. Where that fails, no archive is left behind.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(staged ${package}.files)
  file(REMOVE_RECURSE ${staged})
  if(package MATCHES "\\.zip$")
    set(commands COMMAND strip-nondeterminism --type zip --timestamp $ENV{SOURCE_DATE_EPOCH} ${package})
  else()
    file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${staged})
    file(GLOB top RELATIVE ${staged} ${staged}/*)
    set(commands OUTPUT_FILE ${package} COMMAND tar --sort=name --mtime=@$ENV{SOURCE_DATE_EPOCH}
      --owner=0 --group=0 --numeric-owner --mode=go=rX,u+rw,a-s --format=gnu -C ${staged} -cf - ${top}
      COMMAND gzip -9n)
  endif()
  execute_process(${commands} RESULTS_VARIABLE results)
  file(REMOVE_RECURSE ${staged})
  if(NOT results MATCHES "^0(;0)*$")
    file(REMOVE ${CPACK_PACKAGE_FILES})
    message(FATAL_ERROR "${package} not normalised (${results}): packing needs tar, gzip, strip-nondeterminism")
  endif()
endforeach()
