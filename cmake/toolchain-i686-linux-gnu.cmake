# Cross build for Linux on 32-bit x86.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KRELT_LINUX_TRIPLE i686-linux-gnu)
set(KRELT_LINUX_PACKAGE g++-i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
