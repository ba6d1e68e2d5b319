# Read by cpack for each generator (CPACK_PROJECT_CONFIG_FILE): the prefix it installs under.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
elseif(CPACK_GENERATOR STREQUAL "productbuild")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr/local)
endif()
