# Cross build for Linux on 32-bit x86.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KRELT_CROSS_TRIPLE i686-linux-gnu)
set(KRELT_CROSS_PACKAGE g++-i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-toolchain.cmake)
