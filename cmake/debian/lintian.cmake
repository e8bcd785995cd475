# Run by CPack once the files are staged (CPACK_PRE_BUILD_SCRIPTS): the
# lintian override is for the Debian package alone, not a plain install.
set(share ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_KRELT_DATADIR})
file(MAKE_DIRECTORY ${share}/lintian/overrides)
file(COPY_FILE ${CPACK_KRELT_LINTIAN_OVERRIDES} ${share}/lintian/overrides/krelt)
# The modes of every install, whatever the umask.
file(CHMOD ${share}/lintian ${share}/lintian/overrides DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
     WORLD_EXECUTE)
file(CHMOD ${share}/lintian/overrides/krelt FILE_PERMISSIONS OWNER_READ
     OWNER_WRITE GROUP_READ WORLD_READ)
