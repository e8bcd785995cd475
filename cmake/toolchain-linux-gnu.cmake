# Cross build for Linux on another processor (KRELT_PLATFORM). The
# programs are linked statically, so qemu-user runs them as they are.
set(CMAKE_SYSTEM_NAME Linux)
include(${CMAKE_CURRENT_LIST_DIR}/cross-toolchain.cmake)
