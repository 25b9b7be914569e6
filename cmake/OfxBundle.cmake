# ofx_add_bundle(NAME SOURCES...)
#
# Builds an OpenFX plug-in as NAME.ofx.bundle/Contents/ARCH/NAME.ofx under
# ${CMAKE_BINARY_DIR}/bundles, where ARCH (OFX_BUNDLE_ARCH_DIR) is the
# standard's folder for the system (Linux-x86-64, or Win64 for a DLL),
# linked against the support library, and installs it into
# OFX_PLUGIN_INSTALL_DIR (and into the plug-in archive). Everything is hidden except
# OfxGetNumberOfPlugins and OfxGetPlugin: a host loads many plug-ins into one
# process, and our OFX symbols must never bind to another plug-in's copy.
#
# ofx_add_test_bundle(NAME [C_ONLY] SOURCES...)
#
# The same for a plug-in that only tests load: it goes to
# ${CMAKE_BINARY_DIR}/test-bundles (QFX_TEST_BUNDLE_OUTPUT_DIR) and is never
# installed, so no host on the machine, and no one pointing OFX_PLUGIN_PATH at
# build/bundles, ever lists it. C_ONLY builds it against the C API headers
# alone, without the support library.
set(OFX_BUNDLE_OUTPUT_DIR "${CMAKE_BINARY_DIR}/bundles")
set(QFX_TEST_BUNDLE_OUTPUT_DIR "${CMAKE_BINARY_DIR}/test-bundles")
set(OFX_EXPORTS_MAP "${CMAKE_CURRENT_LIST_DIR}/ofx-exports.map")
set(OFX_EXPORTS_DEF "${CMAKE_CURRENT_LIST_DIR}/ofx-exports.def")
if(WIN32)
  set(OFX_BUNDLE_ARCH_DIR "Win64")
else()
  set(OFX_BUNDLE_ARCH_DIR "Linux-x86-64")
endif()

# NAME.ofx laid out as a bundle under output_dir, exporting the entry points
# only.
function(_ofx_bundle_target name output_dir)
  set(arch_dir "${output_dir}/${name}.ofx.bundle/Contents/${OFX_BUNDLE_ARCH_DIR}")
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".ofx"
    LIBRARY_OUTPUT_DIRECTORY "${arch_dir}")
  if(WIN32)
    # A DLL exports what its module definition lists. A release DLL goes
    # out without its symbol table, a third of its size.
    target_sources(${name} PRIVATE "${OFX_EXPORTS_DEF}")
    target_link_options(${name} PRIVATE $<$<CONFIG:Release>:-s>)
    return()
  endif()
  set_target_properties(${name} PROPERTIES
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
endfunction()

function(ofx_add_bundle name)
  add_library(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE ofxsupport)
  _ofx_bundle_target(${name} "${OFX_BUNDLE_OUTPUT_DIR}")
  install(TARGETS ${name}
    LIBRARY DESTINATION "${OFX_PLUGIN_INSTALL_DIR}/${name}.ofx.bundle/Contents/${OFX_BUNDLE_ARCH_DIR}"
    COMPONENT plugins)
  # The same bundle at the top of the plug-in archive (cmake/Packaging.cmake).
  install(TARGETS ${name}
    LIBRARY DESTINATION "${name}.ofx.bundle/Contents/${OFX_BUNDLE_ARCH_DIR}"
    COMPONENT archive EXCLUDE_FROM_ALL)
endfunction()

function(ofx_add_test_bundle name)
  cmake_parse_arguments(ARG "C_ONLY" "" "" ${ARGN})
  add_library(${name} MODULE ${ARG_UNPARSED_ARGUMENTS})
  if(ARG_C_ONLY)
    target_link_libraries(${name} PRIVATE ofxapi)
  else()
    target_link_libraries(${name} PRIVATE ofxsupport)
  endif()
  _ofx_bundle_target(${name} "${QFX_TEST_BUNDLE_OUTPUT_DIR}")
  # A build folder from before test bundles moved out still has this one
  # among the effects, where it would shadow the new one in every scan.
  file(REMOVE_RECURSE "${OFX_BUNDLE_OUTPUT_DIR}/${name}.ofx.bundle")
endfunction()

# ofx_bundle_resources(NAME FILES...)
#
# Puts FILES into NAME.ofx.bundle/Contents/Resources, beside the binary in
# the build tree and in the installed bundle. Hosts look there for an
# effect's icon, IDENTIFIER.png and IDENTIFIER.svg. The copies are sources
# of the bundle's target, so building the bundle refreshes them.
function(ofx_bundle_resources name)
  set(resources_dir "${OFX_BUNDLE_OUTPUT_DIR}/${name}.ofx.bundle/Contents/Resources")
  set(copies)
  foreach(file IN LISTS ARGN)
    get_filename_component(source "${file}" ABSOLUTE)
    get_filename_component(file_name "${file}" NAME)
    set(copy "${resources_dir}/${file_name}")
    add_custom_command(OUTPUT "${copy}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${resources_dir}"
      COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${copy}"
      DEPENDS "${source}"
      COMMENT "Copying ${file_name} into ${name}.ofx.bundle"
      VERBATIM)
    list(APPEND copies "${copy}")
    install(FILES "${source}"
      DESTINATION "${OFX_PLUGIN_INSTALL_DIR}/${name}.ofx.bundle/Contents/Resources"
      COMPONENT plugins)
    install(FILES "${source}"
      DESTINATION "${name}.ofx.bundle/Contents/Resources"
      COMPONENT archive EXCLUDE_FROM_ALL)
  endforeach()
  target_sources(${name} PRIVATE ${copies})
endfunction()
