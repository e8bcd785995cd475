# Shared part of the toolchain files: the compiler of platform
# KRELT_PLATFORM (set by its preset to the preset's name), a row of
# cmake/platforms.txt. Debian's mingw-w64 compilers come in a -win32
# flavour, which needs no threads library.
include(${CMAKE_CURRENT_LIST_DIR}/platforms.cmake)
# try_compile reads this file again, in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KRELT_PLATFORM)
if(NOT KRELT_PLATFORM IN_LIST KRELT_PLATFORMS)
  message(FATAL_ERROR "KRELT_PLATFORM '${KRELT_PLATFORM}' is not a row of "
                      "cmake/platforms.txt")
endif()
krelt_platform(triple ${KRELT_PLATFORM} triple)
krelt_platform(CMAKE_SYSTEM_PROCESSOR ${KRELT_PLATFORM} processor)
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-win32 ${triple}-g++)
if(NOT CMAKE_CXX_COMPILER)
  krelt_platform(compiler ${KRELT_PLATFORM} compiler)
  message(FATAL_ERROR "${triple}-g++ is missing: apt-get install ${compiler}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
