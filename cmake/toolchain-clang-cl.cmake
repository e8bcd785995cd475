# Cross build for Windows (KRELT_PLATFORM, a Windows row of
# cmake/platforms.txt, for its processor) with the tools that take Visual
# Studio's options: clang-cl, lld-link and llvm-rc (cmake/clang_cl.cmake).
# No Windows SDK and no C runtime: the programs need neither, and
# cmake/win32.cmake makes KERNEL32's import library.
set(CMAKE_SYSTEM_NAME Windows)
include(${CMAKE_CURRENT_LIST_DIR}/platforms.cmake)
# try_compile reads this file again, in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KRELT_PLATFORM)
krelt_platform(processor "${KRELT_PLATFORM}" processor)
krelt_platform(family "${KRELT_PLATFORM}" family)
if(NOT family STREQUAL "w64-mingw32")
  message(FATAL_ERROR "KRELT_PLATFORM '${KRELT_PLATFORM}' is not a Windows "
                      "row of cmake/platforms.txt")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${processor})

include(${CMAKE_CURRENT_LIST_DIR}/clang_cl.cmake)
if(KRELT_CLANG_CL_MISSING)
  message(FATAL_ERROR "missing: ${KRELT_CLANG_CL_MISSING}")
endif()
set(CMAKE_CXX_COMPILER ${KRELT_CLANG_CL})
set(CMAKE_CXX_COMPILER_TARGET ${processor}-pc-windows-msvc)
set(CMAKE_LINKER ${KRELT_LLD_LINK})
set(CMAKE_RC_COMPILER ${KRELT_LLVM_RC})
# Without a C runtime no test program links: CMake's checks compile only.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
