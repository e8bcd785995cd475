# krelt.exe: a console program whose entry point is the runtime's start,
# on KERNEL32 alone, with no C runtime, startup files or libgcc.

# What the runtime needs beyond KERNEL32 (platform/platform.h).
add_library(krelt_platform_win32 OBJECT platform/win32/win32_platform.cpp)
krelt_product_target(krelt_platform_win32)

# The product code is all there is, so it may be built for size. Inlining
# a function called once copies it into a caller that then grows more than
# the call saves.
set(krelt_windows_options -Os -fno-ident -fno-asynchronous-unwind-tables
    -ffunction-sections -fno-inline-functions-called-once)
foreach(lib krelt_runtime krelt_layout krelt_converter krelt_info
            krelt_platform_win32)
  target_compile_options(${lib} PRIVATE ${krelt_windows_options})
endforeach()

# The programs carry an application manifest and a version resource
# (cmake/krelt.rc).
enable_language(RC)
# Its folder is searched for the manifest, and the generated folder for
# the version, as include directories, which CMake quotes: a source path
# may hold spaces.
set_source_files_properties(${PROJECT_SOURCE_DIR}/cmake/krelt.rc PROPERTIES
  INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/cmake;${PROJECT_BINARY_DIR}/generated"
  OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/cmake/utf8.manifest;${PROJECT_BINARY_DIR}/generated/krelt_version.h")

# Builds a freestanding Windows program from the runtime and what supplies
# its app::main: OBJECT libraries or sources.
function(krelt_windows_program name)
  add_executable(${name})
  foreach(part ${ARGN})
    if(TARGET ${part})
      target_link_libraries(${name} PRIVATE ${part})
    else()
      target_sources(${name} PRIVATE ${part})
    endif()
  endforeach()
  target_link_libraries(${name} PRIVATE krelt_runtime krelt_platform_win32)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  krelt_product_target(${name})
  target_compile_options(${name} PRIVATE ${krelt_windows_options})
  target_link_options(${name} PRIVATE
    -nostdlib -nostartfiles -s
    -Wl,--subsystem,console
    -Wl,--gc-sections
    -Wl,--disable-runtime-pseudo-reloc
    -Wl,--no-insert-timestamp)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # i386 symbols carry a leading underscore. A fixed image base needs no
    # relocations, and with our own section layout the headers fit in one
    # 512-byte block: together they keep krelt.exe within its size limit
    # (cmake/platforms.txt).
    target_link_options(${name} PRIVATE
      -Wl,--entry=_start
      -Wl,-T,${PROJECT_SOURCE_DIR}/cmake/win32.ld
      -Wl,--disable-dynamicbase -Wl,--disable-reloc-section)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS
                          ${PROJECT_SOURCE_DIR}/cmake/win32.ld)
  else()
    target_link_options(${name} PRIVATE -Wl,--entry=start)
  endif()
  target_link_libraries(${name} PRIVATE kernel32)
endfunction()

krelt_windows_program(krelt krelt_converter krelt_layout
                      ${PROJECT_SOURCE_DIR}/cmake/krelt.rc)
krelt_windows_program(krelt-info krelt_info krelt_layout
                      ${PROJECT_SOURCE_DIR}/cmake/krelt.rc)

# Test helpers for the Windows suite: the argument vector as the runtime
# splits the real command line, a launcher for raw command lines, and a
# reader that keeps a file open.
krelt_windows_program(print_args tests/win32/print_args.cpp)
foreach(helper spawn hold)
  add_executable(${helper} tests/win32/${helper}.cpp)
  krelt_warnings(${helper})
  target_link_options(${helper} PRIVATE -static)
endforeach()
