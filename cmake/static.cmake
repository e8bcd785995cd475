# The shipped programs, krelt and krelt-info, stand alone: linked
# statically, against musl where Debian's musl is installed for the
# compiler's architecture (musl-tools for the host, musl-dev:ARCH beside a
# cross compiler), else against glibc; stripped, with no .comment. musl
# starts in a few system calls and a few kilobytes where static glibc takes
# 700 KB and about 2 MB of address space before main. Not for sanitizer
# builds, whose runtimes are shared libraries, nor on macOS, which links
# nothing statically: those link as the system does.
#
#   KRELT_MUSL   AUTO: musl where it is installed; ON: required (the
#                default when CI=true); OFF: glibc
#
# Sets KRELT_LIBC (musl, glibc, or system) and, for a static link,
# KRELT_LIBC_ARCHIVE (the libc.a linked, whose package the Debian package
# names); krelt_shipped_program(NAME APP_OBJECTS) makes one of the programs.
function(krelt_shipped_program name app_objects)
  krelt_posix_program(${name} ${app_objects} ${KRELT_PROGRAM_PLATFORM})
  if(KRELT_LIBC STREQUAL "system")
    return()
  endif()
  # Stripped in every build: the tests run the programs as they ship.
  target_link_options(${name} PRIVATE -static -s ${KRELT_PROGRAM_LINK})
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:${name}>
    VERBATIM)
endfunction()

set(musl_default AUTO)
if("$ENV{CI}" STREQUAL "true")
  set(musl_default ON)
endif()
set(KRELT_MUSL ${musl_default} CACHE STRING "Link the programs against musl: AUTO, ON or OFF")
set(KRELT_PROGRAM_PLATFORM krelt_platform_posix)
set(KRELT_PROGRAM_LINK "")
set(KRELT_LIBC system)
if(KRELT_SANITIZE OR KRELT_FUZZ OR APPLE)
  return()
endif()
set(KRELT_LIBC glibc)

# Debian's musl for a processor lives beside its glibc, under the same
# multiarch name with -musl for -gnu (i386-linux-musl for i686-linux-gnu).
set(musl_specs "")
set(musl_package musl-tools)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   AND NOT KRELT_MUSL STREQUAL "OFF")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-multiarch
                  OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "-gnu[a-z0-9]*$" "-musl" musl_triple "${multiarch}")
  if(KRELT_PLATFORM)
    include(${PROJECT_SOURCE_DIR}/cmake/platforms.cmake)
    krelt_platform(debian ${KRELT_PLATFORM} debian)
    set(musl_package "musl-dev:${debian}")
  endif()
  if(EXISTS /usr/lib/${musl_triple}/musl-gcc.specs
     AND EXISTS /usr/include/${musl_triple}/stdio.h)
    set(musl_specs /usr/lib/${musl_triple}/musl-gcc.specs)
  endif()
endif()

if(musl_specs)
  set(KRELT_LIBC musl)
  set(KRELT_LIBC_ARCHIVE /usr/lib/${musl_triple}/libc.a)
  # The specs put musl's headers, start files and libc.a in place of
  # glibc's, for the platform objects and the link; the product objects
  # call no C library at all and serve both.
  add_library(krelt_platform_posix_musl OBJECT
              platform/posix/posix_platform.cpp platform/posix/command_line.cpp)
  krelt_warnings(krelt_platform_posix_musl)
  target_include_directories(krelt_platform_posix_musl PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_definitions(krelt_platform_posix_musl PRIVATE _FILE_OFFSET_BITS=64)
  target_compile_options(krelt_platform_posix_musl PRIVATE -specs=${musl_specs})
  set(KRELT_PROGRAM_PLATFORM krelt_platform_posix_musl)
  set(KRELT_PROGRAM_LINK -specs=${musl_specs})
  message(STATUS "krelt, krelt-info: static musl (${musl_specs})")
elseif(KRELT_MUSL STREQUAL "ON")
  message(FATAL_ERROR "KRELT_MUSL=ON: no musl for ${CMAKE_CXX_COMPILER} "
                      "(apt-get install ${musl_package})")
elseif(KRELT_MUSL STREQUAL "OFF")
  message(STATUS "krelt, krelt-info: static glibc (KRELT_MUSL=OFF)")
else()
  message(STATUS "krelt, krelt-info: static glibc; no musl for this compiler (apt-get install ${musl_package})")
endif()
if(KRELT_LIBC STREQUAL "glibc")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libc.a
                  OUTPUT_VARIABLE KRELT_LIBC_ARCHIVE
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(KRELT_LIBC_ARCHIVE)
  get_filename_component(KRELT_LIBC_ARCHIVE ${KRELT_LIBC_ARCHIVE} REALPATH)
endif()

