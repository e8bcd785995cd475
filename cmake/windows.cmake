# The Windows programs for the host build's tests. Each Windows build is
# its own CMake build (preset win32 or win64, in build/win32 and
# build/win64), driven from here as an external project that is built
# every time the host build is, so no test ever meets a stale krelt.exe.
# Also finds the Wine that runs each build.
#
#   KRELT_WINDOWS          AUTO: every build the installed cross compilers
#                          can make; OFF: none
#   KRELT_REQUIRE_WINDOWS  a Windows suite that cannot run fails the
#                          configure step (on when CI=true), except 32-bit
#                          Wine on a kernel that cannot execute 32-bit
#                          programs: krelt.exe then gets its static checks
#                          and the suite runs on the 64-bit build
#
# Sets KRELT_WINDOWS_BUILDS (build names) and, for each, KRELT_WINDOWS_DIR_,
# KRELT_OBJDUMP_OF_ and KRELT_WINE_OF_<name> (empty: no Wine). What cannot
# run is listed in skipped.txt in the build folder.
include(ExternalProject)

set(KRELT_WINDOWS AUTO CACHE STRING "Build and test the Windows programs")
set(require_default OFF)
if("$ENV{CI}" STREQUAL "true")
  set(require_default ON)
endif()
option(KRELT_REQUIRE_WINDOWS "Fail when a Windows suite cannot run"
       ${require_default})

set(KRELT_WINDOWS_BUILDS "")
set(krelt_skipped "")
set(krelt_missing "")
macro(krelt_skip reason excusable)
  list(APPEND krelt_skipped "SKIPPED: ${reason}")
  if(NOT ${excusable})
    list(APPEND krelt_missing "${reason}")
  endif()
endmacro()

# name, mingw prefix, Debian package of the cross compiler
macro(krelt_windows_build name prefix package)
  find_program(KRELT_CXX_${name} NAMES ${prefix}-g++-win32 ${prefix}-g++)
  if(NOT KRELT_CXX_${name})
    krelt_skip("${name} build: no ${prefix}-g++ (apt-get install ${package})" FALSE)
  else()
    set(dir ${PROJECT_SOURCE_DIR}/build/${name})
    ExternalProject_Add(${name}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${dir}
      CONFIGURE_COMMAND ${CMAKE_COMMAND} -S <SOURCE_DIR> --preset ${name}
      BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${dir}/krelt.exe ${dir}/krelt-info.exe)
    list(APPEND KRELT_WINDOWS_BUILDS ${name})
    set(KRELT_WINDOWS_DIR_${name} ${dir})
    set(KRELT_OBJDUMP_OF_${name} ${prefix}-objdump)
    set(KRELT_WINE_OF_${name} "")
  endif()
endmacro()

if(NOT KRELT_WINDOWS STREQUAL "OFF")
  krelt_windows_build(win32 i686-w64-mingw32 g++-mingw-w64-i686)
  if(TARGET win32)
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/can_run_i386
                    RESULT_VARIABLE can_run_i386 OUTPUT_QUIET ERROR_QUIET)
    set(wine32 /usr/lib/wine/wine)
    if(NOT can_run_i386 EQUAL 0)
      krelt_skip("win32 under Wine: this machine cannot execute 32-bit x86 programs (its kernel has no IA-32 support), so 32-bit Wine cannot start: krelt.exe gets its static checks, the 64-bit build runs the suite" TRUE)
    elseif(EXISTS ${wine32})
      set(KRELT_WINE_OF_win32 ${wine32})
    else()
      krelt_skip("win32 under Wine: no 32-bit Wine (dpkg --add-architecture i386, apt-get update, apt-get install wine wine32)" FALSE)
    endif()
  endif()

  krelt_windows_build(win64 x86_64-w64-mingw32 g++-mingw-w64-x86-64)
  if(TARGET win64)
    find_program(KRELT_WINE64 NAMES wine64 PATHS /usr/lib/wine)
    if(KRELT_WINE64)
      set(KRELT_WINE_OF_win64 ${KRELT_WINE64})
    else()
      krelt_skip("win64 under Wine: no wine64 (apt-get install wine64)" FALSE)
    endif()
  endif()
endif()

list(JOIN krelt_skipped "\n" skipped_text)
file(WRITE ${CMAKE_BINARY_DIR}/skipped.txt "${skipped_text}")
foreach(note ${krelt_skipped})
  message(STATUS "${note}")
endforeach()
if(KRELT_REQUIRE_WINDOWS AND krelt_missing)
  message(FATAL_ERROR "Windows suites are required here "
                      "(KRELT_REQUIRE_WINDOWS): ${krelt_missing}")
endif()
