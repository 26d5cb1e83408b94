# What ships. A Windows user unpacks a zip and finds the program beside a
# short README written for a Command Prompt and the licence; Linux gets the
# usual layout.
set(CPACK_STRIP_FILES ON)
# The time the archive entries carry, and their normal form.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package_time.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/normalise.cmake)
set(CPACK_BIEGACZ_SOURCE_DIR ${PROJECT_SOURCE_DIR})
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
