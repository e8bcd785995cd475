# krelt_add_application(<name> IMAGE <image> HEAP <size> [MMAREA <size>]
#                       [OUTPUT <path>] [CHECK [MAX_MEMORY <size>]])
#
# A target <name>, built by default, that converts the bim image into a
# Tamrisk application file with krelt::krelt: OUTPUT, or <name>.v in the
# current binary folder. IMAGE is a file (relative to the current source
# folder, or to the binary folder when it is made in the build) or a target
# whose file is the image. It is reconverted when the image or a size
# changes, and never otherwise. CHECK adds a test that runs krelt-info
# --image <image> --heap <size> [--mmarea <size>] [--max-memory <size>] on
# the result: it fails for a .v that is not the image as krelt converts it
# with those sizes (one left from an earlier build, say), or whose memory
# size passes MAX_MEMORY.
function(krelt_add_application name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "CHECK"
                        "IMAGE;HEAP;MMAREA;OUTPUT;MAX_MEMORY" "")
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
  add_custom_command(OUTPUT ${output}
    COMMAND krelt::krelt ${image} ${output} ${sizes}
    DEPENDS ${image_depends} ${stamp}
    COMMENT "Converting ${arg_IMAGE} into ${output}" VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${output})

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
