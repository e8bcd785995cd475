# Shared part of the cross toolchains. The toolchain file sets
# CMAKE_SYSTEM_NAME and CMAKE_SYSTEM_PROCESSOR, KRELT_CROSS_TRIPLE (the
# compiler's prefix) and KRELT_CROSS_PACKAGE (its Debian package). Debian's
# mingw-w64 compilers come in a -win32 flavour, which needs no threads
# library, and the Linux programs are linked statically, so qemu-user runs
# them as they are.
find_program(CMAKE_CXX_COMPILER NAMES ${KRELT_CROSS_TRIPLE}-g++-win32
                                      ${KRELT_CROSS_TRIPLE}-g++)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "${KRELT_CROSS_TRIPLE}-g++ not found: "
                      "apt-get install ${KRELT_CROSS_PACKAGE}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${KRELT_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
