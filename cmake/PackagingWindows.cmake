# The Windows package, built by `make package-windows` (cpack in the
# Windows build folder): a .zip holding one folder with both effect bundles,
# their icons, the licence and an install note. Only the install component
# "archive" goes in, so test-only bundles never can.
set(CPACK_PACKAGE_NAME "qeffects")
set(CPACK_PACKAGE_VENDOR "QEffects")
set(CPACK_GENERATOR "ZIP")
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL archive)
set(CPACK_PACKAGE_FILE_NAME
    "${CPACK_PACKAGE_NAME}-plugins-${PROJECT_VERSION}-Win64")
# One folder named like the archive, holding everything.
set(CPACK_PACKAGING_INSTALL_PREFIX "/${CPACK_PACKAGE_FILE_NAME}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

install(FILES "${PROJECT_SOURCE_DIR}/packaging/INSTALL-Windows.txt"
  DESTINATION . RENAME INSTALL.txt COMPONENT archive EXCLUDE_FROM_ALL)
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE"
  DESTINATION . RENAME LICENSE.txt COMPONENT archive EXCLUDE_FROM_ALL)

include(CPack)
