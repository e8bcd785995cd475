# `cmake --install` and `make package` (a .deb through CPack): both
# programs and both man pages.
include(GNUInstallDirs)
install(TARGETS krelt krelt-info RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/krelt.1 docs/krelt-info.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME krelt)
set(CPACK_PACKAGE_VENDOR "krelt developers")
set(CPACK_PACKAGE_CONTACT "krelt developers <krelt@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "turn bim images into Tamrisk application files")
set(CPACK_PACKAGE_DESCRIPTION
    "krelt rewrites the header of a linked bim image into the layout of a
Tamrisk application file; krelt-info lists and checks such headers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# A build for another processor is packaged for it (cmake/platforms.txt).
if(KRELT_PLATFORM)
  include(${PROJECT_SOURCE_DIR}/cmake/platforms.cmake)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KRELT_DEBIAN_${KRELT_PLATFORM}})
endif()
# The programs are linked statically and depend on nothing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
set(CPACK_STRIP_FILES ON)
include(CPack)
