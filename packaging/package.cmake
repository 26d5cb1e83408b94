# What ships. A Windows user unpacks a zip and finds the program beside a
# short README written for a Command Prompt and the licence; Linux gets the
# usual layout.
set(CPACK_PACKAGE_VENDOR "biegacz")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "A runner against the current champion, in Polish")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# The time the archive entries carry, and their normal form.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package_time.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/normalise.cmake)
set(CPACK_BIEGACZ_SOURCE_DIR ${PROJECT_SOURCE_DIR})
# The record of what built the package (buildinfo.cmake), where asked for:
# every file the program's compiles and link open, traced, is later looked up
# in dpkg's database. The resource compiler has no launcher of its own, so its
# rule gets one.
if(BIEGACZ_BUILDINFO)
  find_program(STRACE strace)
  if(NOT STRACE)
    message(FATAL_ERROR "The build record needs strace (Debian: apt-get install strace)")
  endif()
  set(CPACK_BIEGACZ_TRACE ${STRACE} -f -qq -A -o ${PROJECT_BINARY_DIR}/buildinfo.trace
    -e trace=execve,open,openat -e status=successful --)
  set_target_properties(runner biegacz PROPERTIES CXX_COMPILER_LAUNCHER "${CPACK_BIEGACZ_TRACE}"
    CXX_LINKER_LAUNCHER "${CPACK_BIEGACZ_TRACE}")
  if(WIN32)
    list(JOIN CPACK_BIEGACZ_TRACE " " launch)
    set_target_properties(version_resource PROPERTIES RULE_LAUNCH_COMPILE "${launch}")
  endif()
  list(APPEND CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/buildinfo.cmake)
  set(CPACK_BIEGACZ_PRESET ${BIEGACZ_BUILDINFO})
  set(CPACK_BIEGACZ_BINARY_DIR ${PROJECT_BINARY_DIR})
  set(CPACK_BIEGACZ_PROGRAM ${PROJECT_BINARY_DIR}/biegacz${CMAKE_EXECUTABLE_SUFFIX})
  set(CPACK_BIEGACZ_TOOLS ${CMAKE_COMMAND} ${CMAKE_CPACK_COMMAND} ${CMAKE_MAKE_PROGRAM})
endif()
include(GNUInstallDirs)
if(WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS biegacz RUNTIME DESTINATION .)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
    DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  # win32 or win64: CPack tells the widths apart for MSVC only.
  math(EXPR bits "8 * ${CMAKE_SIZEOF_VOID_P}")
  set(CPACK_SYSTEM_NAME win${bits})
else()
  install(TARGETS biegacz RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR TGZ)
endif()

include(CPack)
