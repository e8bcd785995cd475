# Cross build for Windows (KRELT_PLATFORM): 32-bit x86, the original
# target, or x86-64 for a Wine that runs 64-bit programs only.
set(CMAKE_SYSTEM_NAME Windows)
include(${CMAKE_CURRENT_LIST_DIR}/cross-toolchain.cmake)
