# Fails when the product objects need any symbol that neither they nor the
# platform layer provide: no C or C++ runtime may creep in.
#   cmake -DNM=nm -DOBJECTS="a.o|b.o" -DALLOWED="X|Y" -P check_freestanding.cmake
cmake_policy(SET CMP0007 NEW)
string(REPLACE "|" ";" objects "${OBJECTS}")
string(REPLACE "|" ";" allowed "${ALLOWED}")

execute_process(COMMAND ${NM} --undefined-only --format=just-symbols ${objects}
                OUTPUT_VARIABLE undefined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${objects}")
endif()
execute_process(COMMAND ${NM} --defined-only --format=just-symbols ${objects}
                OUTPUT_VARIABLE defined)
string(REGEX REPLACE "\n" ";" undefined "${undefined}")
string(REGEX REPLACE "\n" ";" defined "${defined}")

set(foreign "")
foreach(symbol IN LISTS undefined)
  if(symbol STREQUAL "" OR symbol MATCHES ":$")
    continue()
  endif()
  list(FIND defined "${symbol}" at_defined)
  list(FIND allowed "${symbol}" at_allowed)
  if(at_defined EQUAL -1 AND at_allowed EQUAL -1)
    list(APPEND foreign "${symbol}")
  endif()
endforeach()
list(REMOVE_DUPLICATES foreign)
if(foreign)
  message(FATAL_ERROR "product code needs symbols from outside: ${foreign}")
endif()
message(STATUS "product code needs nothing beyond the platform layer")
