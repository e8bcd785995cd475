# krelt_add_application(<name> IMAGE <image> HEAP <size> [MMAREA <size>]
#                       [OUTPUT <path>] [CHECK [MAX_MEMORY <size>]])
#
# A target <name>, built by default, that converts the bim image into a
# Tamrisk application file with krelt::krelt: OUTPUT (its folder made), or
# <name>.v in the current binary folder. IMAGE is a file (relative to the
# current source folder, or to the binary folder when it is made in the
# build) or an executable or shared library target whose file is the
# image, defined before the call. It is reconverted when the image, a size or the krelt program changes, and
# never otherwise. A size that krelt would misread stops the configure
# step. CHECK adds a test that runs krelt-info --image <image> --heap
# <size> [--mmarea <size>] [--max-memory <size>] on the result: it fails
# for a .v that is not the image as krelt converts it with those sizes
# (one left from an earlier build, say), or whose memory size passes
# MAX_MEMORY.
function(krelt_add_application name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "CHECK"
                        "IMAGE;HEAP;MMAREA;OUTPUT;MAX_MEMORY" "")
  # Every size given, read from the arguments themselves: an empty one
  # ("${unset}") is a mistake too, which cmake_parse_arguments drops.
  set(sizes_ok TRUE)
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE ${last})
    if(i GREATER 0 AND ARGV${i} MATCHES "^(HEAP|MMAREA|MAX_MEMORY)$")
      math(EXPR next "${i} + 1")
      set(value "")
      if(next LESS ARGC)
        set(value "${ARGV${next}}")
      endif()
      _krelt_check_size(${name} ${ARGV${i}} "${value}" sizes_ok)
    endif()
  endforeach()
  if(NOT sizes_ok)
    return()
  endif()
  foreach(required IMAGE HEAP)
    if("${arg_${required}}" STREQUAL "")
      message(FATAL_ERROR
        "krelt_add_application(${name}): ${required} is required")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "krelt_add_application(${name}): unknown "
                        "arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET krelt::krelt)
    message(FATAL_ERROR "krelt_add_application(${name}): no krelt::krelt "
                        "(find_package(krelt) first)")
  endif()

  set(image ${arg_IMAGE})
  set(image_depends ${arg_IMAGE})
  if(TARGET ${arg_IMAGE})
    get_target_property(type ${arg_IMAGE} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY|UNKNOWN_LIBRARY)$")
      message(FATAL_ERROR "krelt_add_application(${name}): IMAGE "
        "${arg_IMAGE} is a ${type} target, which links no image; name an "
        "executable or a shared or module library target, or the file that "
        "${arg_IMAGE} makes")
    endif()
    set(image $<TARGET_FILE:${arg_IMAGE}>)
  elseif(NOT IS_ABSOLUTE ${image})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${image})
      set(image ${CMAKE_CURRENT_SOURCE_DIR}/${image})
    else()
      set(image ${CMAKE_CURRENT_BINARY_DIR}/${image})
    endif()
    set(image_depends ${image})
  endif()
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}.v)
  if(arg_OUTPUT)
    get_filename_component(output ${arg_OUTPUT} ABSOLUTE
                           BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(sizes ${arg_HEAP})
  if(NOT "${arg_MMAREA}" STREQUAL "")
    list(APPEND sizes ${arg_MMAREA})
  endif()

  # The sizes in a file rewritten only when they change: a generator that
  # does not rerun a command whose line changed reruns this one too.
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/krelt/${name}.sizes)
  file(CONFIGURE OUTPUT ${stamp} CONTENT "${sizes}\n" @ONLY)
  # The folder is made in the build, so that it is there under every
  # generator, and again after a clean.
  get_filename_component(output_dir ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND krelt::krelt ${image} ${output} ${sizes}
    DEPENDS ${image_depends} ${stamp} $<TARGET_FILE:krelt::krelt>
    COMMENT "Converting ${arg_IMAGE} into ${output}" VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${output})
  # krelt built in this project for the build machine (a project that
  # cross-compiles and takes krelt's source in) comes first.
  if(TARGET krelt_host_programs)
    add_dependencies(${name} krelt_host_programs)
  endif()

  if(NOT "${arg_MAX_MEMORY}" STREQUAL "" AND NOT arg_CHECK)
    message(FATAL_ERROR "krelt_add_application(${name}): MAX_MEMORY is "
                        "checked by the CHECK test: add CHECK")
  endif()
  if(arg_CHECK)
    set(check --image ${image} --heap ${arg_HEAP})
    if(NOT "${arg_MMAREA}" STREQUAL "")
      list(APPEND check --mmarea ${arg_MMAREA})
    endif()
    if(NOT "${arg_MAX_MEMORY}" STREQUAL "")
      list(APPEND check --max-memory ${arg_MAX_MEMORY})
    endif()
    add_test(NAME ${name}.check COMMAND krelt::krelt-info ${check} ${output})
  endif()
endfunction()

# _krelt_check_size(<name> <argument> <value> <ok>): reports <value> as the
# mistake it is, and sets <ok> false, unless it is a size as the README
# gives them: an optional -; a radix prefix 0x, 0o, 0b or 0; at least one
# digit of that radix (a bare 0 is itself the digit); an optional K, M or G
# in any case; nothing else. krelt reads anything, so "1.5m" would give a
# heap of 1 byte. Every size of the call is reported before the configure
# step fails.
function(_krelt_check_size name argument value ok)
  if(NOT value MATCHES
     "^-?(0[xX][0-9a-fA-F]+|0[oO][0-7]+|0[bB][01]+|0[0-7]*|[1-9][0-9]*)[kKmMgG]?$")
    message(SEND_ERROR "krelt_add_application(${name}): ${argument} "
      "'${value}' is not a size (an optional -; 0x, 0o, 0b or 0; digits of "
      "that radix; K, M or G)")
    set(${ok} FALSE PARENT_SCOPE)
  endif()
endfunction()
