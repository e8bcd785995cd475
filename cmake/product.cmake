# Compile settings shared by every target, and the stricter ones of the
# product code (converter and runtime), which must stand without any C or
# C++ runtime library. Warnings are errors in the developer and CI presets
# (CMAKE_COMPILE_WARNING_AS_ERROR), not in a plain build of a user's.

# MSVC: the options of cl.exe, which clang-cl takes too (and where -Wall
# would be every warning there is).
function(krelt_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  endif()
endfunction()

function(krelt_product_target target)
  krelt_warnings(${target})
  # The generated folder holds krelt_version.h (cmake/version.h.in).
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}
                                               ${PROJECT_BINARY_DIR}/generated)
  if(MSVC)
    # The same in cl.exe's words; /Zl: no C runtime library named in the
    # objects; /Oi-: no loop turns into a call of memcpy or memset.
    target_compile_options(${target} PRIVATE
      /EHs-c- /GR- /Zc:threadSafeInit- /GS- /Zl /Oi-)
    # Nor the macros of one.
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "")
  else()
    target_compile_options(${target} PRIVATE
      -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
      -fno-stack-protector
      # No loop may turn into a call of memcpy or memset.
      $<$<CXX_COMPILER_ID:GNU>:-fno-tree-loop-distribute-patterns>)
  endif()
endfunction()

# A native program: the objects that supply its app::main, the header code,
# the runtime and the POSIX platform (krelt_platform_posix, or the objects
# named after app_objects).
function(krelt_posix_program name app_objects)
  set(platform krelt_platform_posix)
  if(ARGC GREATER 2)
    set(platform ${ARGV2})
  endif()
  add_executable(${name})
  target_link_libraries(${name} PRIVATE ${app_objects} krelt_layout
                                        krelt_runtime ${platform})
  krelt_warnings(${name})
endfunction()
