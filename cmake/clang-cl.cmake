# The 32-bit Windows build with clang-cl, which takes MSVC's command-line
# syntax. MSVC's headers and libraries are not on a Linux host, so nothing
# here can be compiled: try_compile checks make a library, never an
# executable, and the configure only shows the flags the build would use.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_AR /usr/bin/llvm-lib-14)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_LINKER lld-link)
