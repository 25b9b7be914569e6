# ofx_add_bundle(NAME SOURCES...)
#
# Builds an OpenFX plug-in as NAME.ofx.bundle/Contents/Linux-x86-64/NAME.ofx
# under ${CMAKE_BINARY_DIR}/bundles, linked against the support library.
# Everything is hidden except OfxGetNumberOfPlugins and OfxGetPlugin: a host
# loads many plug-ins into one process, and our OFX symbols must never bind
# to another plug-in's copy.
set(OFX_BUNDLE_OUTPUT_DIR "${CMAKE_BINARY_DIR}/bundles")
# Plug-ins built only for the tests: never installed, and kept out of the
# folder users put on OFX_PLUGIN_PATH.
if(NOT DEFINED QFX_TEST_BUNDLE_OUTPUT_DIR)
  set(QFX_TEST_BUNDLE_OUTPUT_DIR "${CMAKE_BINARY_DIR}/test-bundles")
endif()
set(OFX_EXPORTS_MAP "${CMAKE_CURRENT_LIST_DIR}/ofx-exports.map")

function(ofx_add_bundle name)
  add_library(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE ofxsupport)
  set(arch_dir "${OFX_BUNDLE_OUTPUT_DIR}/${name}.ofx.bundle/Contents/Linux-x86-64")
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".ofx"
    LIBRARY_OUTPUT_DIRECTORY "${arch_dir}"
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS "${OFX_EXPORTS_MAP}")
  # The version script alone decides what is exported. (--exclude-libs
  # must not be used: the two entry points come from the static support
  # library, and it would hide them too.)
  target_link_options(${name} PRIVATE
    "LINKER:--version-script=${OFX_EXPORTS_MAP}"
    "LINKER:--no-undefined")
  install(TARGETS ${name}
    LIBRARY DESTINATION "${OFX_PLUGIN_INSTALL_DIR}/${name}.ofx.bundle/Contents/Linux-x86-64")
endfunction()
