# What the package checks share (CheckPackages.cmake for Linux,
# tests/windows/CheckWindowsPackage.cmake for Windows), included by both.

# Runs a command; fails with its output when it fails.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
endfunction()

# Fails unless the files under root are exactly `expected` (paths relative
# to root), naming both lists.
function(expect_files root expected what)
  file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
  list(SORT found)
  list(SORT expected)
  if(NOT found STREQUAL expected)
    string(REPLACE ";" "\n  " found "${found}")
    string(REPLACE ";" "\n  " expected "${expected}")
    message(FATAL_ERROR "${what} holds\n  ${found}\ninstead of\n  ${expected}")
  endif()
endfunction()
