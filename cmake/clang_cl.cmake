# Finds the LLVM tools that take the options of Visual Studio's: clang-cl
# (cl.exe), lld-link (link.exe), llvm-rc (rc.exe) and llvm-dlltool, which
# makes an import library from a .def file. Sets KRELT_CLANG_CL,
# KRELT_LLD_LINK, KRELT_LLVM_RC and KRELT_LLVM_DLLTOOL, and
# KRELT_CLANG_CL_MISSING: empty, or what is missing and its package.
# Included by the clang-cl toolchain file and the host build.

# PATH first, then Debian's versioned LLVMs, newest first.
file(GLOB llvm_dirs /usr/lib/llvm-*/bin)
list(SORT llvm_dirs COMPARE NATURAL ORDER DESCENDING)
find_program(KRELT_CLANG_CL clang-cl PATHS ${llvm_dirs})
# The other tools from the same LLVM, where it has them.
set(llvm_bin "")
if(KRELT_CLANG_CL)
  file(REAL_PATH ${KRELT_CLANG_CL} llvm_bin)
  get_filename_component(llvm_bin ${llvm_bin} DIRECTORY)
endif()
set(KRELT_CLANG_CL_MISSING "")
foreach(tool clang-cl:CLANG_CL:clang lld-link:LLD_LINK:lld
             llvm-rc:LLVM_RC:llvm llvm-dlltool:LLVM_DLLTOOL:llvm)
  string(REPLACE ":" ";" tool ${tool})
  list(GET tool 0 program)
  list(GET tool 1 variable)
  list(GET tool 2 package)
  find_program(KRELT_${variable} ${program} HINTS ${llvm_bin}
               PATHS ${llvm_dirs})
  if(NOT KRELT_${variable})
    list(APPEND KRELT_CLANG_CL_MISSING "${program} (apt-get install ${package})")
  endif()
endforeach()
list(JOIN KRELT_CLANG_CL_MISSING ", " KRELT_CLANG_CL_MISSING)
