# Packages, built by `make package` (cpack in the build folder):
#   a .deb installing the two effect bundles into OFX_PLUGIN_INSTALL_DIR and
#   ofxrender into /usr/bin (install components "plugins" and "tool");
#   a .tar.gz of the two bundles and an install note, for hosts' own plug-in
#   folders (component "archive", which a plain install leaves out).
# Test-only bundles are never installed, so neither package can hold them.
set(CPACK_PACKAGE_NAME "qeffects")
set(CPACK_PACKAGE_VENDOR "QEffects")
set(CPACK_PACKAGE_CONTACT "QEffects maintainers <maintainers@qeffects.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Outline and gradient OpenFX plug-ins, and the ofxrender command line")
set(CPACK_PACKAGE_DESCRIPTION
    "Q_Outline draws an anti-aliased outline around the visible parts of an
image; Q_Gradient blends a linear or radial two-colour gradient into it.
ofxrender renders image files through any OpenFX filter plug-in.")
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Which components each generator takes is decided when cpack runs.
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/PackageComponents.cmake")

install(FILES "${PROJECT_SOURCE_DIR}/packaging/INSTALL.txt"
  DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)

include(CPack)
