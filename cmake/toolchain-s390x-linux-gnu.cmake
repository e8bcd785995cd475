# Cross build for Linux on big-endian IBM Z.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(KRELT_LINUX_TRIPLE s390x-linux-gnu)
set(KRELT_LINUX_PACKAGE g++-s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
