# The Linux builds for other processors tested from the host build (see
# cmake/foreign.cmake), and the qemu-user that runs each. Sets
# KRELT_CROSS_BUILDS and, for each build, KRELT_CROSS_DIR_ and
# KRELT_QEMU_OF_<name>.
set(KRELT_CROSS_BUILDS "")
find_program(KRELT_QEMU_ANY NAMES qemu-aarch64 qemu-s390x qemu-i386)

# processor, qemu's name for it
foreach(spec aarch64:aarch64 i686:i386 s390x:s390x)
  string(REPLACE ":" ";" spec ${spec})
  list(GET spec 0 arch)
  list(GET spec 1 qemu_arch)
  set(name linux-${arch})
  set(triple ${arch}-linux-gnu)
  find_program(KRELT_CXX_${name} NAMES ${triple}-g++)
  find_program(KRELT_QEMU_${name} NAMES qemu-${qemu_arch})
  if(NOT KRELT_CXX_${name})
    krelt_skip("${name}: no ${triple}-g++ (apt-get install g++-${triple})" FALSE)
  elseif(NOT KRELT_QEMU_${name})
    krelt_skip("${name}: no qemu-${qemu_arch} (apt-get install qemu-user)" FALSE)
  else()
    krelt_foreign_build(${name})
    list(APPEND KRELT_CROSS_BUILDS ${name})
    set(KRELT_CROSS_DIR_${name} ${PROJECT_SOURCE_DIR}/build/${name})
    set(KRELT_QEMU_OF_${name} ${KRELT_QEMU_${name}})
  endif()
endforeach()
