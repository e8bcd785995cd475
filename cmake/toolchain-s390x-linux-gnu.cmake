# Cross build for Linux on big-endian IBM Z.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(KRELT_CROSS_TRIPLE s390x-linux-gnu)
set(KRELT_CROSS_PACKAGE g++-s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-toolchain.cmake)
