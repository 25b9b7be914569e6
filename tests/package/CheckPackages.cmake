# Builds the .deb and the .tar.gz into WORK, unpacks each, and checks it
# holds exactly the files users are promised: no test bundle, nothing else.
include("${CMAKE_CURRENT_LIST_DIR}/PackageCheckHelpers.cmake")

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/root" "${WORK}/archive")
run(${CPACK} --config "${CONFIG}" -B "${WORK}")

string(REGEX REPLACE "^/" "" plugins "${PLUGIN_DIR}")
# Each bundle's binary and the icons hosts show beside its effect.
set(bundle_files
  "Rimlet.ofx.bundle/Contents/Linux-x86-64/Rimlet.ofx"
  "Rimlet.ofx.bundle/Contents/Resources/net.qfx.qoutline.png"
  "Rimlet.ofx.bundle/Contents/Resources/net.qfx.qoutline.svg"
  "Tintrow.ofx.bundle/Contents/Linux-x86-64/Tintrow.ofx"
  "Tintrow.ofx.bundle/Contents/Resources/net.qfx.qgradient.png"
  "Tintrow.ofx.bundle/Contents/Resources/net.qfx.qgradient.svg")
list(TRANSFORM bundle_files PREPEND "${plugins}/" OUTPUT_VARIABLE bundles)

file(GLOB debs "${WORK}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${WORK}, found: ${debs}")
endif()
run(${DPKG} -x "${debs}" "${WORK}/root")
execute_process(COMMAND ${DPKG} -f "${debs}" Package OUTPUT_VARIABLE package
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(copyright "usr/share/doc/${package}/copyright")
set(man_page "usr/share/man/man1/ofxrender.1.gz")
set(deb_files
  "${bundles};usr/bin/ofxrender;usr/libexec/ofxhost-probe;${copyright};${man_page}")
# The Python module, in the build that has it.
if(PYTHON_MODULE)
  string(REGEX REPLACE "^/" "" python_module "${PYTHON_MODULE}")
  list(APPEND deb_files "${python_module}")
  # What the module imports must at least be recommended.
  execute_process(COMMAND ${DPKG} -f "${debs}" Recommends
    OUTPUT_VARIABLE recommends COMMAND_ERROR_IS_FATAL ANY)
  if(NOT recommends MATCHES "python3-numpy")
    message(FATAL_ERROR "the .deb holds the Python module but does not "
      "recommend python3-numpy: '${recommends}'")
  endif()
endif()
expect_files("${WORK}/root" "${deb_files}" "the .deb")
run(${DPKG} --info "${debs}")
expect_copyright("${WORK}/root/${copyright}" "${LICENSE}")
expect_man_page("${WORK}/root/${man_page}" "${WORK}/root/usr/bin/ofxrender")

file(GLOB archives "${WORK}/*.tar.gz")
list(LENGTH archives count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .tar.gz in ${WORK}, found: ${archives}")
endif()
run(${CMAKE_COMMAND} -E chdir "${WORK}/archive" ${CMAKE_COMMAND} -E tar xzf "${archives}")
file(GLOB top RELATIVE "${WORK}/archive" "${WORK}/archive/*")
list(LENGTH top count)
if(NOT count EQUAL 1 OR NOT top MATCHES "^qeffects-plugins-")
  message(FATAL_ERROR "the .tar.gz should hold one qeffects-plugins-* folder, holds: ${top}")
endif()
expect_files("${WORK}/archive/${top}"
  "INSTALL.txt;LICENSE;${bundle_files}"
  "the .tar.gz")
