# The builds for other platforms, tested from the host build: the Windows
# programs under Wine (cmake/windows.cmake) and the Linux programs for other
# processors under qemu-user (cmake/cross.cmake). Each is its own CMake
# build (its preset, in build/<preset>), driven from here as an external
# project that is built every time the host build is, so no test ever
# meets a stale program.
#
#   KRELT_FOREIGN          AUTO: every build this machine's compilers can
#                          make; OFF: none
#   KRELT_REQUIRE_FOREIGN  a suite that cannot run fails the configure step
#                          (on when CI=true), except 32-bit Wine on a kernel
#                          that cannot execute 32-bit programs
#
# What cannot run is listed in skipped.txt in the build folder, with the
# package to install.
include(ExternalProject)

set(KRELT_FOREIGN AUTO CACHE STRING "Build and test the other platforms")
set(require_default OFF)
if("$ENV{CI}" STREQUAL "true")
  set(require_default ON)
endif()
option(KRELT_REQUIRE_FOREIGN "Fail when a foreign suite cannot run"
       ${require_default})

set(krelt_skipped "")
set(krelt_missing "")
macro(krelt_skip reason excusable)
  list(APPEND krelt_skipped "SKIPPED: ${reason}")
  if(NOT ${excusable})
    list(APPEND krelt_missing "${reason}")
  endif()
endmacro()

# Builds preset `name` from this source tree into build/<name>.
function(krelt_foreign_build name)
  set(dir ${PROJECT_SOURCE_DIR}/build/${name})
  ExternalProject_Add(${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CONFIGURE_COMMAND ${CMAKE_COMMAND} -S <SOURCE_DIR> --preset ${name}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
endfunction()

if(NOT KRELT_FOREIGN STREQUAL "OFF")
  include(${PROJECT_SOURCE_DIR}/cmake/windows.cmake)
  include(${PROJECT_SOURCE_DIR}/cmake/cross.cmake)
endif()

list(JOIN krelt_skipped "\n" skipped_text)
file(WRITE ${CMAKE_BINARY_DIR}/skipped.txt "${skipped_text}")
foreach(note ${krelt_skipped})
  message(STATUS "${note}")
endforeach()
if(KRELT_REQUIRE_FOREIGN AND krelt_missing)
  message(FATAL_ERROR "Every platform's suite is required here "
                      "(KRELT_REQUIRE_FOREIGN): ${krelt_missing}")
endif()
