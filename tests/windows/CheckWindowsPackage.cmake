# cmake -DCPACK=... -DCONFIG=<CPackConfig.cmake> -DWORK=<scratch>
#       -P CheckWindowsPackage.cmake
#
# Builds the Windows .zip into WORK, unpacks it and checks that it holds
# exactly what users are promised: one folder with both bundles (binary and
# icons), the licence and the install note; no test bundle, nothing else.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/unpacked")
execute_process(COMMAND ${CPACK} --config "${CONFIG}" -B "${WORK}"
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed (${status}):\n${out}")
endif()
file(GLOB zips "${WORK}/*.zip")
list(LENGTH zips count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .zip in ${WORK}, found: ${zips}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${zips}"
  WORKING_DIRECTORY "${WORK}/unpacked" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${zips}")
endif()

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
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE
  "${WORK}/unpacked/${top}" "${WORK}/unpacked/${top}/*")
list(SORT found)
if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " found "${found}")
  string(REPLACE ";" "\n  " expected "${expected}")
  message(FATAL_ERROR "the .zip holds\n  ${found}\ninstead of\n  ${expected}")
endif()
file(READ "${WORK}/unpacked/${top}/INSTALL.txt" note)
if(NOT note MATCHES "CommonProgramFiles%\\\\OFX\\\\Plugins")
  message(FATAL_ERROR "the install note does not name the plug-in folder")
endif()
message(STATUS "${zips}: ${found}")
