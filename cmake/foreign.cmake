# The builds for the other platforms (cmake/platforms.txt), tested from
# the host build: the Windows programs under Wine, the Linux programs for
# other processors under qemu-user. Each is its platform's preset, built
# into <this build>/<name>, again whenever a file it is made of changes.
#
#   KRELT_FOREIGN          AUTO: every build this machine's compilers can
#                          make; OFF: none
#   KRELT_REQUIRE_FOREIGN  a suite that cannot run fails the configure step
#                          (on when CI=true), except under an emulator of
#                          another architecture that this kernel cannot run
#
# Sets KRELT_FOREIGN_BUILDS, and for each KRELT_DIR_<name> (its build),
# KRELT_ROW_<name> (its row of the table) and KRELT_RUNNER_<name> (its
# emulator; empty: its programs cannot run here).
# What cannot run is listed in skipped.txt in the build folder, with the
# package to install.
include(${PROJECT_SOURCE_DIR}/cmake/platforms.cmake)

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

# Everything a build for another platform is made of.
file(GLOB_RECURSE krelt_foreign_sources CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/converter/* ${PROJECT_SOURCE_DIR}/runtime/*
     ${PROJECT_SOURCE_DIR}/info/* ${PROJECT_SOURCE_DIR}/platform/*
     ${PROJECT_SOURCE_DIR}/tests/win32/* ${PROJECT_SOURCE_DIR}/cmake/*)
list(APPEND krelt_foreign_sources ${PROJECT_SOURCE_DIR}/CMakeLists.txt
            ${PROJECT_SOURCE_DIR}/CMakePresets.json)

add_custom_target(krelt_foreign_builds)
set(KRELT_FOREIGN_BUILDS "")
# Each Windows row is built twice: by mingw-w64 (preset NAME) and by the
# tools that take Visual Studio's options (preset NAME-msvc).
include(${PROJECT_SOURCE_DIR}/cmake/clang_cl.cmake)
foreach(name ${KRELT_PLATFORMS})
  if(KRELT_FOREIGN STREQUAL "OFF")
    break()
  endif()
  krelt_platform(triple ${name} triple)
  krelt_platform(family ${name} family)
  set(builds "")
  find_program(KRELT_CXX_${name} NAMES ${triple}-g++-win32 ${triple}-g++)
  if(KRELT_CXX_${name})
    list(APPEND builds ${name})
  else()
    krelt_platform(compiler ${name} compiler)
    krelt_skip("${name}: no ${triple}-g++ (apt-get install ${compiler})" FALSE)
  endif()
  if(family STREQUAL "w64-mingw32")
    if(KRELT_CLANG_CL_MISSING)
      krelt_skip("${name}-msvc: no ${KRELT_CLANG_CL_MISSING}" FALSE)
    else()
      list(APPEND builds ${name}-msvc)
    endif()
  endif()
  if(NOT builds)
    continue()
  endif()

  set(runner "")
  krelt_platform(emulator ${name} emulator)
  krelt_platform(package ${name} emulator-package)
  find_program(KRELT_EMULATOR_OF_${name} NAMES ${emulator} PATHS /usr/lib/wine)
  set(can_run 0)
  if(package MATCHES ":i386$")
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/can_run_i386
                    RESULT_VARIABLE can_run OUTPUT_QUIET ERROR_QUIET)
  endif()
  list(JOIN builds " and " what)
  if(NOT can_run EQUAL 0)
    krelt_skip("${what} under ${emulator}: this kernel cannot execute 32-bit x86 programs (no IA-32 support), so ${emulator} cannot start; the programs get their static checks only" TRUE)
  elseif(NOT KRELT_EMULATOR_OF_${name})
    string(REGEX REPLACE "^.*:" "" arch ${package})
    set(steps "")
    if(NOT arch STREQUAL package)
      set(steps "dpkg --add-architecture ${arch}, apt-get update, ")
    endif()
    krelt_skip("${what} under ${emulator}: no ${emulator} (${steps}apt-get install ${package})" FALSE)
  else()
    set(runner ${KRELT_EMULATOR_OF_${name}})
  endif()

  # Each build is its preset, in a folder of this build; the stamp says
  # when it was built. KRELT_ROW_<build> names its row of the table.
  foreach(build ${builds})
    set(dir ${CMAKE_BINARY_DIR}/${build})
    add_custom_command(OUTPUT ${dir}/built
      COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${dir} --preset ${build}
      COMMAND ${CMAKE_COMMAND} --build ${dir}
      COMMAND ${CMAKE_COMMAND} -E touch ${dir}/built
      DEPENDS ${krelt_foreign_sources}
      COMMENT "Building the ${build} programs" VERBATIM)
    add_custom_target(${build} ALL DEPENDS ${dir}/built)
    add_dependencies(krelt_foreign_builds ${build})
    list(APPEND KRELT_FOREIGN_BUILDS ${build})
    set(KRELT_DIR_${build} ${dir})
    set(KRELT_ROW_${build} ${name})
    set(KRELT_RUNNER_${build} ${runner})
  endforeach()
endforeach()

list(JOIN krelt_skipped "\n" skipped_text)
file(WRITE ${CMAKE_BINARY_DIR}/skipped.txt "${skipped_text}")
foreach(note ${krelt_skipped})
  message(STATUS "${note}")
endforeach()
if(KRELT_REQUIRE_FOREIGN AND krelt_missing)
  message(FATAL_ERROR "Every platform's suite is required here "
                      "(KRELT_REQUIRE_FOREIGN): ${krelt_missing}")
endif()
