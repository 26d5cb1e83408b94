# The tests of a Windows cross build run the executable under the wine of its
# width, in a wine prefix of this build folder's own: a prefix made by one
# width's wine cannot serve the other. Sets `emulator`, the command that runs
# a Windows program here, `WINE_ENV`, its environment, and `wine_bits`.
#
# Debian's loaders and servers are called directly so that the width is never
# left to a wrapper's guess: wine and wineserver32 (package wine32:i386),
# wine64 and wineserver64 (package wine64).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(wine_name wine64)
  set(wine_bits 64)
  set(wine_package wine64)
else()
  set(wine_name wine)
  set(wine_bits 32)
  set(wine_package wine32:i386)
endif()
find_program(WINE_LOADER ${wine_name} PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(WINE_SERVER wineserver${wine_bits} PATHS /usr/lib/wine NO_DEFAULT_PATH)
set(wine_found OFF)
if(WINE_LOADER AND WINE_SERVER)
  set(wine_found ON)
endif()
# Where the 32-bit tests are forced to skip, nothing runs the 32-bit wine.
if(NOT (wine_bits EQUAL 32 AND BIEGACZ_FORCE_NO_32BIT_EXEC))
  require_for_tests(wine_found "the ${wine_bits}-bit wine" ${wine_package})
endif()

# What every wine process of this build folder runs with: quiet, and without
# the .NET and browser add-ons a console program never uses.
set(WINE_ENV WINEARCH=win${wine_bits} WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
  WINELOADER=${WINE_LOADER} WINESERVER=${WINE_SERVER} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
set(emulator env ${WINE_ENV} ${WINE_LOADER})
