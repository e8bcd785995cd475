# Reads the table of platforms (cmake/platforms.txt), whose first line that
# is not a comment names the columns, into
#   KRELT_PLATFORMS   the names, in table order
# and krelt_platform(<variable> <name> <column>), which sets <variable> to
# the field of platform <name> in the column of that name, or to a part of
# its triple: processor (i686, aarch64, ...) or family (linux-gnu,
# w64-mingw32). A name or column the table lacks stops the run.
# Included by the toolchain files, the host build and the presets generator.
set(KRELT_PLATFORMS "")
set(KRELT_PLATFORM_COLUMNS "")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/platforms.txt krelt_rows
     REGEX "^[ \t]*[^# \t]")
foreach(row IN LISTS krelt_rows)
  string(STRIP "${row}" row)
  string(REGEX REPLACE "[ \t]+" ";" row "${row}")
  if(NOT KRELT_PLATFORM_COLUMNS)
    set(KRELT_PLATFORM_COLUMNS ${row})
    continue()
  endif()
  list(GET row 0 name)
  list(APPEND KRELT_PLATFORMS ${name})
  set(KRELT_PLATFORM_ROW_${name} ${row})
endforeach()

function(krelt_platform variable name column)
  if(NOT DEFINED KRELT_PLATFORM_ROW_${name})
    message(FATAL_ERROR "no platform '${name}' in cmake/platforms.txt")
  endif()
  # MATCHES, never a quoted name: scripts (cmake -P) run with the old
  # policies, under which "family" would name the caller's variable.
  set(part "")
  if(column MATCHES "^(processor|family)$")
    set(part ${column})
    set(column triple)
  endif()
  list(FIND KRELT_PLATFORM_COLUMNS ${column} index)
  if(index LESS 0)
    message(FATAL_ERROR "no column '${column}' in cmake/platforms.txt")
  endif()
  list(GET KRELT_PLATFORM_ROW_${name} ${index} field)
  if(part MATCHES "^processor$")
    string(REGEX REPLACE "-.*$" "" field ${field})
  elseif(part MATCHES "^family$")
    string(REGEX MATCH "-.*$" field ${field})
    string(SUBSTRING ${field} 1 -1 field)
  endif()
  set(${variable} ${field} PARENT_SCOPE)
endfunction()
