# Cross build for Linux on 64-bit ARM.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KRELT_CROSS_TRIPLE aarch64-linux-gnu)
set(KRELT_CROSS_PACKAGE g++-aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-toolchain.cmake)
