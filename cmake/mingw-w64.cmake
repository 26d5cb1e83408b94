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

# Debian's loaders, called directly so that the width is never left to a
# wrapper's guess: wine (package wine32:i386) and wine64 (package wine64).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(wine_name wine64)
  set(wine_arch win64)
  set(wine_package wine64)
else()
  set(wine_name wine)
  set(wine_arch win32)
  set(wine_package wine32:i386)
endif()
find_program(WINE_LOADER ${wine_name} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT WINE_LOADER)
  message(FATAL_ERROR "no /usr/lib/wine/${wine_name} to run the tests: apt-get install ${wine_package}")
endif()

# Quiet, and without the .NET and browser add-ons a console program never uses.
set(CMAKE_CROSSCOMPILING_EMULATOR
  env WINEARCH=${wine_arch} WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINELOADER=${WINE_LOADER}
  WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${WINE_LOADER})
