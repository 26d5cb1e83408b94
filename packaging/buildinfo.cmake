# Run by cpack after normalise.cmake where BIEGACZ_BUILDINFO names a preset:
# writes PACKAGE.buildinfo beside the package, in the spirit of Debian's
# .buildinfo. Its packages come from dpkg's database, looked up for every file
# the build opened or ran: the traced compiles and links, the packing tools,
# and what cmake loads. Each name that led through Debian's alternatives is
# given with the program it chose. Then the sums of the program and package.
set(trace ${CPACK_BIEGACZ_BINARY_DIR}/buildinfo.trace)
foreach(tool IN LISTS CPACK_BIEGACZ_TOOLS) # what cmake, cpack and make load as they start
  execute_process(COMMAND ${CPACK_BIEGACZ_TRACE} ${tool} --version OUTPUT_QUIET)
endforeach()
file(STRINGS ${trace} calls REGEX "^[0-9]+ +(execve|open|openat)\\(")
list(TRANSFORM calls REPLACE "^[^\"]*\"(/[^\"]+)\".*" "\\1") # the path each call names, if absolute
list(FILTER calls INCLUDE REGEX "^/")
list(FILTER calls EXCLUDE REGEX "^/(proc|sys|dev|tmp)/")
list(REMOVE_DUPLICATES calls)
list(GET CPACK_BIEGACZ_TRACE 0 paths) # strace itself, which the presets ask for
set(alternatives)
foreach(path IN LISTS calls)
  if(NOT IS_DIRECTORY ${path} AND EXISTS ${path})
    # dpkg knows a file by the path its package ships, which on a merged /usr
    # may be the one without /usr.
    file(REAL_PATH ${path} real)
    string(REGEX REPLACE "^/usr/(s?bin|lib)" "/\\1" unmerged ${real})
    list(APPEND paths ${path} ${real} ${unmerged})
    if(IS_SYMLINK ${path})
      file(READ_SYMLINK ${path} link)
      if(link MATCHES "^/etc/alternatives/(.*)") # the choice, and the package that offers it
        file(READ_SYMLINK ${link} chosen)
        list(APPEND alternatives " ${CMAKE_MATCH_1} ${chosen}")
        list(APPEND paths ${chosen})
      endif()
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES paths)
list(FILTER paths EXCLUDE REGEX "^(${CPACK_BIEGACZ_SOURCE_DIR}|${CPACK_BIEGACZ_BINARY_DIR})/")
execute_process(COMMAND dpkg-query --search ${paths} OUTPUT_VARIABLE owners ERROR_QUIET)
string(REPLACE "\n" ";" owners "${owners}")
list(FILTER owners INCLUDE REGEX "^[^ ]+(, [^ ]+)*: /") # "a, b:amd64: /path"; not "diversion by a from: /path"
list(TRANSFORM owners REPLACE ": /.*" "")
string(REPLACE ", " ";" packages "${owners}")
list(REMOVE_DUPLICATES packages)
# And what they need: the installed packages their Depends and Pre-Depends
# name, of this architecture or none, until no more come, as dpkg-genbuildinfo
# does, so that a rebuild installs no newer neighbour they cannot live with.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE)
set(named ${packages})
while(named)
  execute_process(COMMAND dpkg-query --show "--showformat=\${Depends}, \${Pre-Depends}, " ${named}
    OUTPUT_VARIABLE needs ERROR_QUIET)
  string(REGEX REPLACE "\\([^)]*\\)|:any" "" needs "${needs}")
  string(REGEX REPLACE "[ ]*[,|][ ]*" ";" needs "${needs}")
  list(REMOVE_DUPLICATES needs)
  list(REMOVE_ITEM needs "")
  execute_process(COMMAND dpkg-query --show "--showformat=\${db:Status-Abbrev}\${Architecture} \${binary:Package}\n"
    ${needs} OUTPUT_VARIABLE found ERROR_QUIET)
  string(REGEX MATCHALL "ii (${arch}|all) [^\n]+" found "${found}")
  list(TRANSFORM found REPLACE "^ii [^ ]+ " "")
  set(named ${found})
  list(REMOVE_ITEM named ${packages})
  list(APPEND packages ${named})
endwhile()
execute_process(COMMAND dpkg-query --show "--showformat= \${binary:Package} (= \${Version})\n" ${packages}
  OUTPUT_VARIABLE versions RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR versions STREQUAL "")
  message(FATAL_ERROR "No Debian packages found for the files the build used: the record needs dpkg's database")
endif()
string(REGEX REPLACE "\n$" "" versions "${versions}")
string(REPLACE "\n" ";" versions "${versions}")
list(SORT versions)
list(REMOVE_DUPLICATES alternatives)
list(SORT alternatives)

file(SHA256 ${CPACK_BIEGACZ_PROGRAM} sum)
file(RELATIVE_PATH name ${CPACK_BIEGACZ_SOURCE_DIR} ${CPACK_BIEGACZ_PROGRAM})
set(sums " ${sum} ${name}")
foreach(package IN LISTS CPACK_PACKAGE_FILES) # each named where cpack puts it next
  file(SHA256 ${package} sum)
  get_filename_component(name ${package} NAME)
  file(RELATIVE_PATH name ${CPACK_BIEGACZ_SOURCE_DIR} ${CPACK_PACKAGE_DIRECTORY}/${name})
  string(APPEND sums "\n ${sum} ${name}")
endforeach()
list(JOIN versions "\n" versions)
list(JOIN alternatives "\n" alternatives)
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.buildinfo "Format: 1.0
Source: ${CPACK_PACKAGE_NAME} ${CPACK_PACKAGE_VERSION}
Commit: ${CPACK_BIEGACZ_COMMIT}
Preset: ${CPACK_BIEGACZ_PRESET}
Source-Date-Epoch: $ENV{SOURCE_DATE_EPOCH}
Build-Architecture: ${arch}
Alternatives:
${alternatives}
Installed-Build-Depends:
${versions}
Checksums-Sha256:
${sums}
")
