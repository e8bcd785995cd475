# krelt taken in with add_subdirectory by a project that cross-compiles:
# the programs run in the build, so they are built for the build machine
# with its own compiler, as krelt's own project in <binary folder>/host,
# whose configure step runs now, so that a machine with no compiler for
# itself is told at once. Gives krelt::krelt, krelt::krelt-info and
# krelt_add_application, as find_package(krelt) does, and installs nothing.
#   KRELT_HOST_CXX   the build machine's C++ compiler (default: c++, g++ or
#                    clang++ from the PATH)
set(KRELT_HOST_CXX "" CACHE FILEPATH
    "The build machine's C++ compiler, for krelt in a project that cross-compiles")
set(advice "install krelt on the build machine (its package, or \
cmake --install of its own build) and use find_package(krelt) instead of \
add_subdirectory")
set(compiler ${KRELT_HOST_CXX})
if(NOT compiler)
  find_program(compiler NAMES c++ g++ clang++ NO_CACHE NO_CMAKE_FIND_ROOT_PATH)
endif()
if(NOT compiler)
  message(FATAL_ERROR "krelt: this project cross-compiles, so krelt must be "
    "built for the build machine, and no C++ compiler for it was found (c++, "
    "g++ or clang++; KRELT_HOST_CXX names another): ${advice}")
endif()
if(KRELT_INSTALL)
  message(WARNING "krelt: KRELT_INSTALL is ignored in a project that "
    "cross-compiles: krelt is built here for the build machine alone")
endif()

set(host ${CMAKE_CURRENT_BINARY_DIR}/host)
set(bin ${host}/bin)
set(suffix "")
if(CMAKE_HOST_WIN32)
  set(suffix .exe)
endif()
set(make_program "")
if(CMAKE_MAKE_PROGRAM)
  set(make_program -DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM})
endif()
# Nothing of the cross build reaches it: not the toolchain, nor the
# compiler and flags the environment may name for the target.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=CMAKE_TOOLCHAIN_FILE --unset=CXX
          --unset=CXXFLAGS --unset=CPPFLAGS --unset=LDFLAGS
          ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${host}
          -G ${CMAKE_GENERATOR} ${make_program}
          -DCMAKE_CXX_COMPILER=${compiler} -DCMAKE_BUILD_TYPE=Release
          -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${bin}
          -DCMAKE_RUNTIME_OUTPUT_DIRECTORY_RELEASE=${bin}
          -DKRELT_TESTS=OFF -DKRELT_MUSL=AUTO -DKRELT_INSTALL=OFF
  OUTPUT_FILE ${host}.log ERROR_FILE ${host}.log RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "krelt: this project cross-compiles, so krelt must be "
    "built for the build machine with ${compiler}, which failed (see "
    "${host}.log): ${advice}")
endif()

# Under make, the project's own make builds it, sharing its job slots.
set(build ${CMAKE_COMMAND} --build ${host} --config Release --target)
if(CMAKE_GENERATOR MATCHES "Makefiles")
  set(build $(MAKE) -C ${host})
endif()
add_custom_target(krelt_host_programs
  COMMAND ${build} krelt krelt-info
  BYPRODUCTS ${bin}/krelt${suffix} ${bin}/krelt-info${suffix}
  COMMENT "Building krelt for the build machine" VERBATIM)
foreach(program krelt krelt-info)
  add_executable(krelt::${program} IMPORTED GLOBAL)
  # A program of the build machine runs under no emulator of the target's.
  set_target_properties(krelt::${program} PROPERTIES
    IMPORTED_LOCATION ${bin}/${program}${suffix} CROSSCOMPILING_EMULATOR "")
endforeach()
include(${PROJECT_SOURCE_DIR}/cmake/package/kreltFunctions.cmake)
