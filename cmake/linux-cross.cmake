# Shared part of the Linux cross toolchains (Debian's g++-<triple>);
# KRELT_LINUX_TRIPLE names the target, KRELT_LINUX_PACKAGE its compiler's
# package. The programs are linked statically, so qemu-user runs them as
# they are.
set(CMAKE_SYSTEM_NAME Linux)
find_program(CMAKE_CXX_COMPILER NAMES ${KRELT_LINUX_TRIPLE}-g++)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "${KRELT_LINUX_TRIPLE}-g++ not found: "
                      "apt-get install ${KRELT_LINUX_PACKAGE}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${KRELT_LINUX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
