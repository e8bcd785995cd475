# The Windows builds tested from the host build (see cmake/foreign.cmake),
# and the Wine that runs each. Sets KRELT_WINDOWS_BUILDS and, for each
# build, KRELT_WINDOWS_DIR_, KRELT_OBJDUMP_OF_ and KRELT_WINE_OF_<name>
# (empty: no Wine here).
set(KRELT_WINDOWS_BUILDS "")

# name, mingw prefix, Debian package of the cross compiler
macro(krelt_windows_build name prefix package)
  find_program(KRELT_CXX_${name} NAMES ${prefix}-g++-win32 ${prefix}-g++)
  if(KRELT_CXX_${name})
    krelt_foreign_build(${name})
    list(APPEND KRELT_WINDOWS_BUILDS ${name})
    set(KRELT_WINDOWS_DIR_${name} ${PROJECT_SOURCE_DIR}/build/${name})
    set(KRELT_OBJDUMP_OF_${name} ${prefix}-objdump)
    set(KRELT_WINE_OF_${name} "")
  else()
    krelt_skip("${name} build: no ${prefix}-g++ (apt-get install ${package})" FALSE)
  endif()
endmacro()

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
