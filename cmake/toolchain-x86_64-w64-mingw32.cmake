# Cross build for 64-bit Windows: the same program for running under a
# 64-bit-only Wine, where the 32-bit one cannot start.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KRELT_CROSS_TRIPLE x86_64-w64-mingw32)
set(KRELT_CROSS_PACKAGE g++-mingw-w64-x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-toolchain.cmake)
