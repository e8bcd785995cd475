# `cmake --install` and the Debian package (CPack): the programs and their
# documentation, never the test helpers.
#
#   Linux and other POSIX systems: bin/krelt, bin/krelt-info, the man pages
#   gzipped, in share/doc/krelt the README (gzipped), the licence as a
#   Debian copyright file naming the C library linked and the changelog;
#   the CMake package in share/cmake/krelt, the make include
#   share/krelt/krelt.mk and the pkg-config file share/pkgconfig/krelt.pc;
#   the lintian override in the Debian package alone.
#   Windows: one folder, as the zip holds it: krelt.exe, krelt-info.exe,
#   README.txt (docs/windows.txt), LICENSE.txt, changelog.txt and the man
#   pages as plain text, with CR LF, krelt.mk, the CMake package in cmake/
#   and pkgconfig/krelt.pc.
include(GNUInstallDirs)
# Folders made by the install get these whatever the umask, so packages
# made on different machines agree.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE
    OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(krelt_docs ${PROJECT_BINARY_DIR}/docs)
set(krelt_doc_files "")

# The CMake package (find_package(krelt)): the config file finds the
# programs by the path from its folder to theirs.
include(CMakePackageConfigHelpers)
function(krelt_install_cmake_package config_dir bin_dir)
  file(RELATIVE_PATH KRELT_CONFIG_TO_BIN /prefix/${config_dir} /prefix/${bin_dir})
  if(KRELT_CONFIG_TO_BIN STREQUAL "")
    set(KRELT_CONFIG_TO_BIN .)
  endif()
  set(package ${PROJECT_BINARY_DIR}/package)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/package/kreltConfig.cmake.in
                 ${package}/kreltConfig.cmake @ONLY)
  # A host tool: any project, for any processor, may use it.
  write_basic_package_version_file(${package}/kreltConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion
    ARCH_INDEPENDENT)
  install(FILES ${package}/kreltConfig.cmake
                ${package}/kreltConfigVersion.cmake
                ${PROJECT_SOURCE_DIR}/cmake/package/kreltFunctions.cmake
          DESTINATION ${config_dir})
endfunction()

# The pkg-config file (Meson's dependency('krelt'), pkg-config
# --variable=krelt krelt): the full paths of the programs and the make
# include, found from the file's own folder, so that the install may move.
function(krelt_install_pkgconfig pc_dir bin_dir make_dir)
  file(RELATIVE_PATH to_prefix /prefix/${pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" to_prefix ${to_prefix})
  foreach(entry krelt:${bin_dir}/krelt${CMAKE_EXECUTABLE_SUFFIX}
                krelt_info:${bin_dir}/krelt-info${CMAKE_EXECUTABLE_SUFFIX}
                makefile:${make_dir}/krelt.mk)
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 name)
    list(GET entry 1 path)
    cmake_path(SET path NORMALIZE "${path}")
    string(APPEND variables "${name}=\${prefix}/${path}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/package/krelt.pc CONTENT
"prefix=\${pcfiledir}/@to_prefix@
@variables@
Name: krelt
Description: turn bim images into Tamrisk application files
Version: @PROJECT_VERSION@
" @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/krelt.pc DESTINATION ${pc_dir})
endfunction()

if(WIN32)
  install(TARGETS krelt krelt-info RUNTIME DESTINATION .)
  krelt_install_cmake_package(cmake .)
  krelt_install_pkgconfig(pkgconfig . .)
  install(FILES cmake/package/krelt.mk DESTINATION .)
  # Groff renders the man pages wherever the Windows programs are built.
  find_program(KRELT_GROFF_FOR_TEXT groff)
  set(pages "")
  if(KRELT_GROFF_FOR_TEXT)
    set(pages krelt krelt-info)
  else()
    message(STATUS "No man pages as text in the install: groff is missing (apt-get install groff-base)")
  endif()
  foreach(file docs/windows.txt:README.txt LICENSE:LICENSE.txt
               cmake/debian/changelog:changelog.txt krelt:krelt.txt
               krelt-info:krelt-info.txt)
    string(REPLACE ":" ";" file ${file})
    list(GET file 0 in)
    list(GET file 1 out)
    set(groff "")
    if(in MATCHES "^krelt")
      if(NOT in IN_LIST pages)
        continue()
      endif()
      set(groff -DGROFF=${KRELT_GROFF_FOR_TEXT})
      set(in docs/${in}.1)
    endif()
    add_custom_command(OUTPUT ${krelt_docs}/${out}
      COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/${in}
              -DOUT=${krelt_docs}/${out} ${groff}
              -P ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/${in}
              ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
      VERBATIM)
    list(APPEND krelt_doc_files ${krelt_docs}/${out})
  endforeach()
  add_custom_target(krelt_docs ALL DEPENDS ${krelt_doc_files})
  install(FILES ${krelt_doc_files} DESTINATION .)
  return()
endif()

# The C library the programs carry, for the copyright file and the
# package: its notice, and its Debian source package and version where
# dpkg knows the libc.a linked.
set(KRELT_LIBC_NOTICE "the GNU C Library (LGPL-2.1+, see\n /usr/share/common-licenses/LGPL-2.1)")
if(KRELT_LIBC STREQUAL "musl")
  set(KRELT_LIBC_NOTICE "musl (Copyright 2005-2020 Rich Felker, et al.;\n Expat licence, as below)")
endif()
set(KRELT_BUILT_USING "")
find_program(KRELT_DPKG_QUERY dpkg-query)
if(KRELT_LIBC_ARCHIVE AND KRELT_DPKG_QUERY)
  execute_process(COMMAND ${KRELT_DPKG_QUERY} -S ${KRELT_LIBC_ARCHIVE}
                  OUTPUT_VARIABLE owner RESULT_VARIABLE rc ERROR_QUIET)
  string(REGEX REPLACE ":[ \t].*" "" owner "${owner}")
  if(rc EQUAL 0)
    execute_process(COMMAND ${KRELT_DPKG_QUERY} -W
                      "-f=\${source:Package} (= \${source:Version})" ${owner}
                    OUTPUT_VARIABLE KRELT_BUILT_USING)
  endif()
endif()
configure_file(cmake/debian/copyright.in ${krelt_docs}/copyright @ONLY)

install(TARGETS krelt krelt-info RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
krelt_install_cmake_package(${CMAKE_INSTALL_DATADIR}/cmake/krelt
                            ${CMAKE_INSTALL_BINDIR})
install(FILES cmake/package/krelt.mk DESTINATION ${CMAKE_INSTALL_DATADIR}/krelt)
krelt_install_pkgconfig(${CMAKE_INSTALL_DATADIR}/pkgconfig ${CMAKE_INSTALL_BINDIR}
                        ${CMAKE_INSTALL_DATADIR}/krelt)
# gzip -n: no name or time in the header, so the same page gives the same
# bytes in every build.
# Debian policy: documentation over 4 KB is compressed.
foreach(file docs/krelt.1 docs/krelt-info.1 cmake/debian/changelog README.md)
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${krelt_docs}/${name}.gz
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh
            ${PROJECT_SOURCE_DIR}/${file} ${krelt_docs}/${name}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/${file} VERBATIM)
  list(APPEND krelt_doc_files ${krelt_docs}/${name}.gz)
endforeach()
add_custom_target(krelt_docs ALL DEPENDS ${krelt_doc_files})
file(MAKE_DIRECTORY ${krelt_docs})
install(FILES ${krelt_docs}/krelt.1.gz ${krelt_docs}/krelt-info.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${krelt_docs}/README.md.gz ${krelt_docs}/copyright
              ${krelt_docs}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
# The lintian override goes into the package alone (cmake/debian/lintian.cmake).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/lintian.cmake)
set(CPACK_KRELT_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides)
set(CPACK_KRELT_DATADIR ${CMAKE_INSTALL_DATADIR})
set(CPACK_PACKAGE_NAME krelt)
set(CPACK_PACKAGE_VENDOR "The krelt developers")
# A mail address lintian takes as real (not localhost): the one of the
# changelog and the copyright file.
set(CPACK_PACKAGE_CONTACT "krelt developers <krelt@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "turn bim images into Tamrisk application files")
set(CPACK_PACKAGE_DESCRIPTION
    "krelt rewrites the header of a linked bim image into the layout of a
Tamrisk application file; krelt-info lists and checks such headers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# CPack has no fields for these two, so they follow the section's line.
# foreign: the programs serve a build on any architecture.
set(CPACK_DEBIAN_PACKAGE_SECTION "devel\nMulti-Arch: foreign")
if(KRELT_BUILT_USING)
  string(APPEND CPACK_DEBIAN_PACKAGE_SECTION
         "\nStatic-Built-Using: ${KRELT_BUILT_USING}")
endif()
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# A build for another processor is packaged for it (cmake/platforms.txt).
if(KRELT_PLATFORM)
  include(${PROJECT_SOURCE_DIR}/cmake/platforms.cmake)
  krelt_platform(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KRELT_PLATFORM} debian)
endif()
# The programs are linked statically and depend on nothing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
# Only krelt's own build makes packages, not a project that includes it.
if(PROJECT_IS_TOP_LEVEL)
  include(CPack)
endif()
