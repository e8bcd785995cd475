# Compile settings shared by every target, and the stricter ones of the
# product code (converter and runtime), which must stand without any C or
# C++ runtime library.

function(krelt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Werror)
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
  add_executable(${name} $<TARGET_OBJECTS:${app_objects}>
                         $<TARGET_OBJECTS:krelt_layout>
                         $<TARGET_OBJECTS:krelt_runtime>
                         $<TARGET_OBJECTS:krelt_platform_posix>)
  krelt_warnings(${name})
endfunction()
