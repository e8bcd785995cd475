# Cross build for 32-bit x86 Windows: the genuine krelt.exe.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KRELT_CROSS_TRIPLE i686-w64-mingw32)
set(KRELT_CROSS_PACKAGE g++-mingw-w64-i686)
include(${CMAKE_CURRENT_LIST_DIR}/cross-toolchain.cmake)
