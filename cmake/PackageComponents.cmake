# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL archive)
  set(CPACK_PACKAGE_FILE_NAME
      "${CPACK_PACKAGE_NAME}-plugins-${CPACK_PACKAGE_VERSION}-Linux-x86-64")
  # One folder named like the archive, holding the bundles, the note and
  # the licence.
  set(CPACK_PACKAGING_INSTALL_PREFIX "/${CPACK_PACKAGE_FILE_NAME}")
else()
  # python: the ofxhost module, when the build has it.
  set(CPACK_COMPONENTS_ALL plugins tool python)
endif()
