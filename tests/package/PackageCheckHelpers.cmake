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

# Fails unless file is a machine-readable Debian copyright file of three
# paragraphs (header, files, licence) whose licence text is license's.
function(expect_copyright file license)
  file(READ "${file}" text)
  file(READ "${license}" license_text)
  set(format "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
  string(FIND "${text}" "${format}" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "${file} does not start with ${format}")
  endif()
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" ignored "${license_text}")
  foreach(field "Files: *" "Copyright: ${CMAKE_MATCH_1}" "License: BSD-3-Clause")
    string(FIND "${text}" "\n${field}\n" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${file} has no line \"${field}\":\n${text}")
    endif()
  endforeach()
  # A blank line ends a paragraph, so the licence's own must be dots.
  string(REGEX MATCHALL "\n\n" breaks "${text}")
  list(LENGTH breaks count)
  if(NOT count EQUAL 2)
    message(FATAL_ERROR "${file} should have 3 paragraphs:\n${text}")
  endif()
  # The licence's words, whatever the layout.
  string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n" "" body "${license_text}")
  string(REGEX REPLACE "[ \t\n.]" "" body "${body}")
  string(REGEX REPLACE "[ \t\n.]" "" words "${text}")
  string(FIND "${words}" "${body}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${file} does not hold the text of ${license}")
  endif()
endfunction()

# Fails unless the gzipped man page is roff for ofxrender naming every long
# option that `tool render --help` shows.
function(expect_man_page file tool)
  execute_process(COMMAND ${GZIP} -dc "${file}" OUTPUT_VARIABLE page
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${file} is not gzip data")
  endif()
  if(NOT page MATCHES "^\\.TH OFXRENDER 1 " OR NOT page MATCHES "\n\\.SH NAME\n")
    message(FATAL_ERROR "${file} is not ofxrender's man page:\n${page}")
  endif()
  execute_process(COMMAND "${tool}" render --help OUTPUT_VARIABLE help
    COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "\-\-[a-z][a-z-]*" options "${help}")
  list(REMOVE_DUPLICATES options)
  foreach(option IN LISTS options)
    string(REPLACE "-" "\\-" escaped "${option}")
    string(FIND "${page}" "${escaped}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${file} does not mention ${option}")
    endif()
  endforeach()
endfunction()
