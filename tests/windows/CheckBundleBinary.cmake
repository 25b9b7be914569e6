# cmake -DOBJDUMP=... -DBINARY=<NAME.ofx> -P CheckBundleBinary.cmake
#
# Fails unless the plug-in DLL is what any Windows host can load beside
# dozens of others:
# - it exports exactly the two OpenFX entry points;
# - it imports only DLLs that are part of every Windows (no MinGW runtime,
#   libstdc++ or winpthreads DLL a user would have to find);
# - it holds no aligned 256- or 512-bit move, which faults on a stack slot
#   that MinGW's GCC left only 16-byte aligned.
cmake_minimum_required(VERSION 3.25)
if(NOT BINARY OR NOT EXISTS "${BINARY}")
  message(FATAL_ERROR "no plug-in binary at '${BINARY}'")
endif()

execute_process(COMMAND ${OBJDUMP} -p "${BINARY}"
  OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${BINARY}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
set(system_dlls kernel32.dll msvcrt.dll ucrtbase.dll user32.dll advapi32.dll
  ntdll.dll bcrypt.dll)
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${BINARY} imports ${dll}, which Windows does not ship")
  endif()
endforeach()

# The export table's names: "[   0] Name" lines after its name-pointer
# heading, up to the next blank line.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" table
  "${headers}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z_][A-Za-z0-9_@]*" exports
  "${table}")
list(TRANSFORM exports REPLACE "^\\[ *[0-9]+\\] " "")
list(SORT exports)
if(NOT exports STREQUAL "OfxGetNumberOfPlugins;OfxGetPlugin")
  message(FATAL_ERROR "${BINARY} exports '${exports}' instead of exactly "
                      "OfxGetNumberOfPlugins and OfxGetPlugin")
endif()

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn "${BINARY}"
  OUTPUT_VARIABLE code RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump -d failed on ${BINARY}")
endif()
string(REGEX MATCHALL
  "vmov(aps|apd|dqa|dqa32|dqa64|ntdqa)[ \t]+[^\n]*%[yz]mm[^\n]*" aligned
  "${code}")
list(LENGTH aligned count)
if(count GREATER 0)
  list(GET aligned 0 first)
  message(FATAL_ERROR "${BINARY} holds ${count} aligned wide vector moves, "
                      "such as: ${first}")
endif()
message(STATUS "${BINARY}: imports ${imports}; exports ${exports}")
