# Shared part of the mingw-w64 cross toolchains; KRELT_MINGW_PREFIX names
# the target (i686-w64-mingw32 or x86_64-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_CXX_COMPILER NAMES ${KRELT_MINGW_PREFIX}-g++-win32
                                      ${KRELT_MINGW_PREFIX}-g++)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "${KRELT_MINGW_PREFIX}-g++ not found: "
                      "apt-get install ${KRELT_MINGW_PACKAGE}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${KRELT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
