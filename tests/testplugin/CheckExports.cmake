# cmake -DBINARY=<plug-in .ofx> -P CheckExports.cmake
#
# Fails unless the binary's dynamic symbol table defines exactly the two
# OpenFX entry points (loader symbols such as _init and _fini aside): a host
# loads many plug-ins into one process, and any other exported symbol could
# bind to another plug-in's copy.
if(NOT BINARY OR NOT EXISTS "${BINARY}")
  message(FATAL_ERROR "no plug-in binary at '${BINARY}'")
endif()
find_program(NM_TOOL nm REQUIRED)
execute_process(COMMAND ${NM_TOOL} -D --defined-only "${BINARY}"
  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${BINARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(entry_points "")
set(unexpected "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^.* " "" symbol "${line}")
  if(symbol MATCHES "^(OfxGetNumberOfPlugins|OfxGetPlugin)$")
    list(APPEND entry_points ${symbol})
  elseif(NOT symbol MATCHES "^(_init|_fini|_edata|_end|__bss_start)$")
    list(APPEND unexpected ${symbol})
  endif()
endforeach()
list(LENGTH entry_points found)
if(NOT found EQUAL 2)
  message(FATAL_ERROR "expected both entry points, found: ${entry_points}")
endif()
if(unexpected)
  message(FATAL_ERROR "unexpected exported symbols: ${unexpected}")
endif()
message(STATUS "exports: ${entry_points}")
