# Compile settings shared by every target, and the stricter ones of the
# product code (converter and runtime), which must stand without any C or
# C++ runtime library. Warnings are errors in the developer and CI presets
# (CMAKE_COMPILE_WARNING_AS_ERROR), not in a plain build of a user's.

function(krelt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
endfunction()

function(krelt_product_target target)
  krelt_warnings(${target})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE
    -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-stack-protector
    # No loop may turn into a call of memcpy or memset.
    $<$<CXX_COMPILER_ID:GNU>:-fno-tree-loop-distribute-patterns>)
endfunction()

# A native program: the objects that supply its app::main, the header code,
# the runtime and the POSIX platform.
function(krelt_posix_program name app_objects)
  add_executable(${name})
  target_link_libraries(${name} PRIVATE ${app_objects} krelt_layout
                                        krelt_runtime krelt_platform_posix)
  krelt_warnings(${name})
endfunction()
