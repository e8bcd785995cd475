# Checks a Windows build of krelt: PE format, console subsystem, imports
# from KERNEL32.dll alone and exactly the calls the runtime makes (with
# WITHIN, only calls among them: krelt-info makes fewer, and lld-link drops
# the imports nothing calls), and, for the 32-bit program, the size budget;
# with VERSION, a version resource whose ProductVersion and FileVersion
# are it.
#   cmake -DOBJDUMP=... -DEXE=... -DMAGIC=010b -DEXPECTED="A|B" [-DWITHIN=1]
#         [-DMAX_SIZE=n] [-DVERSION=1.0.0] -P
cmake_policy(SET CMP0007 NEW)
string(REPLACE "|" ";" expected "${EXPECTED}")

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()

if(NOT dump MATCHES "Magic[ \t]+${MAGIC}")
  message(FATAL_ERROR "${EXE}: optional header magic is not ${MAGIC}")
endif()
if(NOT dump MATCHES "Subsystem[ \t]+00000003")
  message(FATAL_ERROR "${EXE}: not a console program")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${dump}")
if(NOT dlls STREQUAL "DLL Name: KERNEL32.dll")
  message(FATAL_ERROR "${EXE}: imports from ${dlls}; KERNEL32.dll only wanted")
endif()

# Import lines look like "\t3090\t  136  CloseHandle".
string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+ +[A-Za-z0-9_]+" lines "${dump}")
set(imported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE ".* ([A-Za-z0-9_]+)$" "\\1" name "${line}")
  list(APPEND imported ${name})
endforeach()
list(SORT imported)
list(SORT expected)
if(WITHIN)
  set(others ${imported})
  list(REMOVE_ITEM others ${expected})
  if(others OR NOT imported)
    message(FATAL_ERROR "${EXE} imports:\n  ${imported}\nnone but:\n  ${expected}")
  endif()
elseif(NOT imported STREQUAL expected)
  message(FATAL_ERROR "${EXE} imports:\n  ${imported}\nexpected:\n  ${expected}")
endif()

file(SIZE ${EXE} size)
message(STATUS "${EXE}: ${size} bytes, imports ${imported}")
if(DEFINED MAX_SIZE AND size GREATER MAX_SIZE)
  message(FATAL_ERROR "${EXE} is ${size} bytes; the budget is ${MAX_SIZE}")
endif()

# A VERSIONINFO value is UTF-16LE: its key, padding to 32 bits, the value.
function(utf16_hex text out)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  set(${out} ${hex} PARENT_SCOPE)
endfunction()
if(DEFINED VERSION)
  file(READ ${EXE} bytes HEX)
  utf16_hex("${VERSION}" value)
  foreach(key FileVersion ProductVersion)
    utf16_hex("${key}" name)
    if(NOT bytes MATCHES "${name}(0000)+${value}0000")
      message(FATAL_ERROR "${EXE}: no version resource with ${key} ${VERSION}")
    endif()
  endforeach()
  message(STATUS "${EXE}: version resource ${VERSION}")
endif()
