# Cross build for a Windows console with Debian's mingw-w64, for the processor
# set by the file that includes this one (i686 or x86_64). Tests run the
# executable under the wine of the same width, in a wine prefix of this
# build folder's own: a prefix made by one width's wine cannot serve the other.
set(CMAKE_SYSTEM_NAME Windows)

set(triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's loaders and servers, called directly so that the width is never
# left to a wrapper's guess: wine and wineserver32 (package wine32:i386),
# wine64 and wineserver64 (package wine64).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
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
if(NOT WINE_LOADER OR NOT WINE_SERVER)
  message(FATAL_ERROR "no /usr/lib/wine/${wine_name} and wineserver${wine_bits} to run the tests: apt-get install ${wine_package}")
endif()

# What every wine process of this build folder runs with: quiet, and without
# the .NET and browser add-ons a console program never uses.
set(WINE_ENV WINEARCH=win${wine_bits} WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
  WINELOADER=${WINE_LOADER} WINESERVER=${WINE_SERVER} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
set(CMAKE_CROSSCOMPILING_EMULATOR env ${WINE_ENV} ${WINE_LOADER})
