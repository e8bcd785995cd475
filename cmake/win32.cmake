# krelt.exe: a console program whose entry point is the runtime's start,
# on KERNEL32 alone, with no C runtime, startup files or libgcc. Built by
# either kind of compiler: GNU (mingw-w64's g++ and ld) or MSVC (cl.exe and
# link.exe, or clang-cl and lld-link, which take their options).

# What the runtime needs beyond KERNEL32 (platform/platform.h).
add_library(krelt_platform_win32 OBJECT platform/win32/win32_platform.cpp)
krelt_product_target(krelt_platform_win32)

# The product code is all there is, so it may be built for size. Inlining
# a function called once copies it into a caller that then grows more than
# the call saves.
if(MSVC)
  # /Gy and /Gw: each function and datum a section of its own, for the
  # linker to drop what nothing uses.
  set(krelt_windows_options /O1 /Gy /Gw)
  # No exceptions and no RTTI unless a target asks (cmake/product.cmake);
  # no libraries but the ones named.
  string(REGEX REPLACE " */(EHsc|GR)( |$)" " " CMAKE_CXX_FLAGS
         "${CMAKE_CXX_FLAGS}")
  set(CMAKE_CXX_STANDARD_LIBRARIES "")
else()
  set(krelt_windows_options -Os -fno-ident -fno-asynchronous-unwind-tables
      -ffunction-sections -fno-inline-functions-called-once)
endif()
foreach(lib krelt_runtime krelt_layout krelt_converter krelt_info
            krelt_platform_win32)
  target_compile_options(${lib} PRIVATE ${krelt_windows_options})
endforeach()

# KERNEL32's import library. The GNU toolchains bring one. For MSVC it is
# made here by llvm-dlltool from the functions platform/platform.h
# declares, so no Windows SDK is needed; without llvm-dlltool the SDK's is
# used.
set(krelt_kernel32 kernel32)
find_program(KRELT_LLVM_DLLTOOL llvm-dlltool)
if(MSVC AND KRELT_LLVM_DLLTOOL)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/platform/platform.h)
  file(READ ${PROJECT_SOURCE_DIR}/platform/platform.h header)
  string(REGEX MATCHALL "WINAPI [A-Za-z0-9]+\\([^)]*\\)" calls "${header}")
  set(exports "")
  foreach(call IN LISTS calls)
    string(REGEX MATCH "WINAPI ([A-Za-z0-9]+)\\(([^)]*)\\)" _ "${call}")
    set(export ${CMAKE_MATCH_1})
    if(MSVC_CXX_ARCHITECTURE_ID STREQUAL "X86")
      # A __stdcall name ends in @ and the bytes its arguments take on the
      # stack: 4 for each (handles, pointers, 32-bit numbers), 8 for a
      # LARGE_INTEGER.
      string(REGEX REPLACE "[ \t\r\n]+" " " arguments "${CMAKE_MATCH_2}")
      string(REPLACE "," ";" arguments "${arguments}")
      set(bytes 0)
      foreach(argument IN LISTS arguments)
        if(argument MATCHES "^ *LARGE_INTEGER [a-z_]+ *$")
          math(EXPR bytes "${bytes} + 8")
        elseif(NOT argument MATCHES "^ *(void)? *$")
          math(EXPR bytes "${bytes} + 4")
        endif()
      endforeach()
      string(APPEND export "@${bytes}")
    endif()
    string(APPEND exports "  ${export}\n")
  endforeach()
  # Written only when it changes, so the library is made again only then.
  set(def ${PROJECT_BINARY_DIR}/kernel32.def)
  file(CONFIGURE OUTPUT ${def} CONTENT "LIBRARY KERNEL32.dll\nEXPORTS\n${exports}")
  set(machine_X86 i386)
  set(machine_x64 i386:x86-64)
  set(machine_ARM64 arm64)
  set(krelt_kernel32 ${PROJECT_BINARY_DIR}/kernel32.lib)
  # -k: the names imported from KERNEL32.dll lose their @ and bytes.
  add_custom_command(OUTPUT ${krelt_kernel32}
    COMMAND ${KRELT_LLVM_DLLTOOL} -m ${machine_${MSVC_CXX_ARCHITECTURE_ID}}
            -k -d ${def} -l ${krelt_kernel32}
    DEPENDS ${def} COMMENT "Making KERNEL32's import library" VERBATIM)
  add_custom_target(krelt_kernel32 DEPENDS ${krelt_kernel32})
endif()

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
  if(MSVC)
    # The manifest is in the resources already; /Brepro: no time stamp.
    target_link_options(${name} PRIVATE
      /NODEFAULTLIB /ENTRY:start /SUBSYSTEM:CONSOLE /OPT:REF /OPT:ICF
      /MANIFEST:NO /Brepro)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # A fixed image base needs no relocations.
      target_link_options(${name} PRIVATE /FIXED /DYNAMICBASE:NO)
    endif()
    if(TARGET krelt_kernel32)
      add_dependencies(${name} krelt_kernel32)
    endif()
  else()
    target_link_options(${name} PRIVATE
      -nostdlib -nostartfiles -s
      -Wl,--subsystem,console
      -Wl,--gc-sections
      -Wl,--disable-runtime-pseudo-reloc
      -Wl,--no-insert-timestamp)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # i386 symbols carry a leading underscore. A fixed image base needs
      # no relocations, and with our own section layout the headers fit in
      # one 512-byte block: together they keep krelt.exe within its size
      # limit (cmake/platforms.txt).
      target_link_options(${name} PRIVATE
        -Wl,--entry=_start
        -Wl,-T,${PROJECT_SOURCE_DIR}/cmake/win32.ld
        -Wl,--disable-dynamicbase -Wl,--disable-reloc-section)
      set_target_properties(${name} PROPERTIES LINK_DEPENDS
                            ${PROJECT_SOURCE_DIR}/cmake/win32.ld)
    else()
      target_link_options(${name} PRIVATE -Wl,--entry=start)
    endif()
  endif()
  target_link_libraries(${name} PRIVATE ${krelt_kernel32})
endfunction()

krelt_windows_program(krelt krelt_converter krelt_layout
                      ${PROJECT_SOURCE_DIR}/cmake/krelt.rc)
krelt_windows_program(krelt-info krelt_info krelt_layout
                      ${PROJECT_SOURCE_DIR}/cmake/krelt.rc)

# Test helpers for the Windows suite: the argument vector as the runtime
# splits the real command line, a launcher for raw command lines, and a
# reader that keeps a file open. The last two are plain C++ programs, made
# where the compiler has a C++ library and Windows' headers.
krelt_windows_program(print_args tests/win32/print_args.cpp)
include(CheckIncludeFileCXX)
check_include_file_cxx(windows.h KRELT_HAVE_WINDOWS_H)
if(KRELT_HAVE_WINDOWS_H)
  foreach(helper spawn hold)
    add_executable(${helper} tests/win32/${helper}.cpp)
    krelt_warnings(${helper})
    if(MSVC)
      target_compile_options(${helper} PRIVATE /EHsc)
      set_property(TARGET ${helper} PROPERTY MSVC_RUNTIME_LIBRARY MultiThreaded)
    else()
      target_link_options(${helper} PRIVATE -static)
    endif()
  endforeach()
endif()
