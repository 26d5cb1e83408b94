# 64-bit Windows console: the same runtime, testable where 32-bit code cannot run.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
