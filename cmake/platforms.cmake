# Reads the table of platforms (cmake/platforms.txt) into
#   KRELT_PLATFORMS             the names, in table order
#   KRELT_<COLUMN>_<name>       each row's fields: TRIPLE, DEBIAN, COMPILER,
#                               EMULATOR, EMULATOR_PACKAGE, MAX_SIZE
#   KRELT_PROCESSOR_<name>      the triple's first part (i686, aarch64, ...)
#   KRELT_FAMILY_<name>         the rest: linux-gnu or w64-mingw32
# Included by the toolchain files, the host build and the presets generator.
set(KRELT_PLATFORMS "")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/platforms.txt krelt_rows
     REGEX "^[^#]")
foreach(row IN LISTS krelt_rows)
  string(REGEX REPLACE "[ \t]+" ";" row "${row}")
  list(POP_FRONT row name)
  list(APPEND KRELT_PLATFORMS ${name})
  foreach(column TRIPLE DEBIAN COMPILER EMULATOR EMULATOR_PACKAGE MAX_SIZE)
    list(POP_FRONT row KRELT_${column}_${name})
  endforeach()
  string(REGEX MATCH "^([^-]+)-(.*)$" _ ${KRELT_TRIPLE_${name}})
  set(KRELT_PROCESSOR_${name} ${CMAKE_MATCH_1})
  set(KRELT_FAMILY_${name} ${CMAKE_MATCH_2})
endforeach()
