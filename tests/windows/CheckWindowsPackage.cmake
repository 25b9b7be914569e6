# cmake -DCPACK=... -DCONFIG=<CPackConfig.cmake> -DWORK=<scratch>
#       -P CheckWindowsPackage.cmake
#
# Builds the Windows .zip into WORK, unpacks it and checks that it holds
# exactly what users are promised: one folder with both bundles (binary and
# icons), the licence and the install note; no test bundle, nothing else.
cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/../package/PackageCheckHelpers.cmake")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/unpacked")
run(${CPACK} --config "${CONFIG}" -B "${WORK}")
file(GLOB zips "${WORK}/*.zip")
list(LENGTH zips count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .zip in ${WORK}, found: ${zips}")
endif()
run(${CMAKE_COMMAND} -E chdir "${WORK}/unpacked" ${CMAKE_COMMAND} -E tar xf "${zips}")

file(GLOB top RELATIVE "${WORK}/unpacked" "${WORK}/unpacked/*")
if(NOT top MATCHES "^qeffects-plugins-[0-9.]+-Win64$")
  message(FATAL_ERROR "the .zip should hold one qeffects-plugins-*-Win64 folder, holds: ${top}")
endif()
set(expected
  INSTALL.txt
  LICENSE.txt
  Rimlet.ofx.bundle/Contents/Resources/net.qfx.qoutline.png
  Rimlet.ofx.bundle/Contents/Resources/net.qfx.qoutline.svg
  Rimlet.ofx.bundle/Contents/Win64/Rimlet.ofx
  Tintrow.ofx.bundle/Contents/Resources/net.qfx.qgradient.png
  Tintrow.ofx.bundle/Contents/Resources/net.qfx.qgradient.svg
  Tintrow.ofx.bundle/Contents/Win64/Tintrow.ofx)
expect_files("${WORK}/unpacked/${top}" "${expected}" "the .zip")
file(READ "${WORK}/unpacked/${top}/INSTALL.txt" note)
if(NOT note MATCHES "CommonProgramFiles%\\\\OFX\\\\Plugins")
  message(FATAL_ERROR "the install note does not name the plug-in folder")
endif()
message(STATUS "${zips}: ${expected}")
