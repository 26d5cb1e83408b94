# The tests of a Windows cross build run the executable under the wine of its
# width, in a wine prefix of this build folder's own: a prefix made by one
# width's wine cannot serve the other. Sets `emulator`, the command that runs
# a Windows program here, `WINE_ENV`, its environment, `wine_bits`, and
# `wine_skip`, the reason the 32-bit tests cannot run here, if any.
#
# Debian's loaders and servers are called directly so that the width is never
# left to a wrapper's guess: wine and wineserver32 (package wine32:i386),
# wine64 and wineserver64 (package wine64).
math(EXPR wine_bits "8 * ${CMAKE_SIZEOF_VOID_P}")
set(wine_name wine64)
set(wine_package wine64)
if(wine_bits EQUAL 32)
  set(wine_name wine)
  set(wine_package wine32:i386)
endif()
find_program(WINE_LOADER ${wine_name} PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(WINE_SERVER wineserver${wine_bits} PATHS /usr/lib/wine NO_DEFAULT_PATH)

if(wine_bits EQUAL 32 AND "$ENV{BIEGACZ_FORCE_NO_32BIT_EXEC}")
  # Read afresh at every configure, never kept in the cache.
  set(wine_skip "forced by BIEGACZ_FORCE_NO_32BIT_EXEC")
else()
  require_for_tests(WINE_LOADER "the ${wine_bits}-bit wine" ${wine_package})
  require_for_tests(WINE_SERVER "the ${wine_bits}-bit wine" ${wine_package})
  # The loader is a program of its own width: a kernel that refuses 32-bit
  # code refuses it with ENOEXEC, and that alone is a skip. Python asks, as it
  # execs directly where a shell would retry the file as a script.
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import errno, subprocess, sys
try: sys.exit(subprocess.run([sys.argv[1], '--version'], capture_output=True).returncode)
except OSError as e: sys.exit(77 if e.errno == errno.ENOEXEC else f'{sys.argv[1]}: {e}')"
    ${WINE_LOADER} RESULT_VARIABLE started ERROR_VARIABLE why)
  if(started EQUAL 77)
    set(wine_skip "this machine cannot execute 32-bit x86 code")
  elseif(NOT started EQUAL 0)
    message(FATAL_ERROR "${WINE_LOADER} does not start (${started}) ${why}: reinstall ${wine_package}")
  endif()
endif()
# Said here too, since CTest shows no output of a skipped test.
if(wine_skip)
  message(STATUS "Tests under the 32-bit wine will be skipped: ${wine_skip}")
elseif(wine_bits EQUAL 32)
  message(STATUS "Tests under the 32-bit wine will be run")
endif()

# What every wine process of this build folder runs with: quiet, and without
# the .NET and browser add-ons a console program never uses.
set(WINE_ENV WINEARCH=win${wine_bits} WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
  WINELOADER=${WINE_LOADER} WINESERVER=${WINE_SERVER} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
set(emulator env ${WINE_ENV} ${WINE_LOADER})
