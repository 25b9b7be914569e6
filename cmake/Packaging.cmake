# Packages, built by `make package` (cpack in the build folder):
#   a .deb installing the two effect bundles into OFX_PLUGIN_INSTALL_DIR,
#   ofxrender into /usr/bin with its man page, the copyright file and the
#   Python module where it is built (install components "plugins", "tool"
#   and "python");
#   a .tar.gz of the two bundles, an install note and the licence, for
#   hosts' own plug-in folders (component "archive", which a plain install
#   leaves out).
# Test-only bundles are never installed, so neither package can hold them.
set(CPACK_PACKAGE_NAME "qeffects")
set(CPACK_PACKAGE_VENDOR "QEffects")
set(CPACK_PACKAGE_CONTACT "QEffects maintainers <maintainers@qeffects.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Outline and gradient OpenFX plug-ins, and the ofxrender command line")
set(CPACK_PACKAGE_DESCRIPTION
    "Q_Outline draws an anti-aliased outline around the visible parts of an
image; Q_Gradient blends a linear or radial two-colour gradient into it.
ofxrender renders image files through any OpenFX filter plug-in, and the
ofxhost Python module renders numpy arrays through them.")
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(QFX_PYTHON AND QFX_PYTHON_RECOMMENDS)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${QFX_PYTHON_RECOMMENDS}")
endif()
# Which components each generator takes is decided when cpack runs.
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/PackageComponents.cmake")

install(FILES "${PROJECT_SOURCE_DIR}/packaging/INSTALL.txt"
  DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)
# The licence asks binary copies to carry its notice.
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE"
  DESTINATION . COMPONENT archive EXCLUDE_FROM_ALL)

# The .deb's copyright file (Debian's machine-readable format), made from
# LICENSE so the two always agree: its holder line and, indented, its text.
set(license_file "${PROJECT_SOURCE_DIR}/LICENSE")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${license_file}")
file(READ "${license_file}" license_text)
if(NOT license_text MATCHES "Copyright \\(c\\) ([^\n]*)\n")
  message(FATAL_ERROR "${license_file} has no \"Copyright (c)\" line")
endif()
set(license_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n" "" license_body
  "${license_text}")
string(STRIP "${license_body}" license_body)
# Continuation lines start with a space; an empty one is a lone dot.
string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" license_body "${license_body}")
string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" license_body "${license_body}")
string(REPLACE "\n" "\n " license_body " ${license_body}")
file(WRITE "${CMAKE_BINARY_DIR}/packaging/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${license_holder}
License: BSD-3-Clause

License: BSD-3-Clause
${license_body}
")
install(FILES "${CMAKE_BINARY_DIR}/packaging/copyright"
  DESTINATION share/doc/${CPACK_PACKAGE_NAME} COMPONENT plugins)

# ofxrender's man page, made from its --help texts whenever it is built.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
if(TARGET ofxrender)
  set(man_page "${CMAKE_BINARY_DIR}/man/ofxrender.1.gz")
  add_custom_command(OUTPUT "${man_page}"
    COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:ofxrender>
      -DOUTPUT=${man_page} -DVERSION=${PROJECT_VERSION}
      -DGZIP=${GZIP_EXECUTABLE}
      -P "${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake"
    DEPENDS ofxrender "${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake"
    COMMENT "Writing the ofxrender man page from its --help"
    VERBATIM)
  add_custom_target(ofxrender_man ALL DEPENDS "${man_page}")
  install(FILES "${man_page}" DESTINATION share/man/man1 COMPONENT tool)
endif()

include(CPack)
