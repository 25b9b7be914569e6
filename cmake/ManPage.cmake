# Writes ofxrender's man page from its own help texts, so the page says what
# the program built beside it says:
#   cmake -DTOOL=path/to/ofxrender -DOUTPUT=ofxrender.1.gz -DVERSION=1.0.0
#         -DGZIP=gzip -P ManPage.cmake
# The roff keeps each help text's layout (.nf); only the characters roff
# would take for its own are escaped.

function(help_text out)
  execute_process(COMMAND "${TOOL}" ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE text ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} ${ARGN} failed (${status}): ${error}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Backslashes and minus signs as roff wants them; a line starting with a
# dot or an apostrophe would be read as a request.
function(roff_escaped out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  string(STRIP "${text}" text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(preformatted_section out title text)
  roff_escaped(body "${text}")
  set(${out} ".SH ${title}\n.nf\n${body}\n.fi\n" PARENT_SCOPE)
endfunction()

help_text(top --help)
# The summary is the first line of the program's own help.
string(REGEX MATCH "^[^\n]*" summary "${top}")
string(REGEX REPLACE "\\.$" "" summary "${summary}")
# "renders image files ...", as a NAME line reads.
string(SUBSTRING "${summary}" 0 1 initial)
string(SUBSTRING "${summary}" 1 -1 summary)
string(TOLOWER "${initial}" initial)
string(PREPEND summary "${initial}")
roff_escaped(summary "${summary}")

set(page ".TH OFXRENDER 1 \"\" \"ofxrender ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nofxrender \\- ${summary}\n")
string(APPEND page ".SH SYNOPSIS\n.B ofxrender\n.RI \"list [\" OPTIONS ]\n.br\n")
string(APPEND page ".B ofxrender\n.RI \"describe [\" OPTIONS \"] \" PLUGIN\n.br\n")
string(APPEND page ".B ofxrender\n.RI \"render [\" OPTIONS \"] \" \"PLUGIN INPUT OUTPUT\"\n")
preformatted_section(section "DESCRIPTION" "${top}")
string(APPEND page "${section}")
foreach(command list describe render)
  help_text(text ${command} --help)
  preformatted_section(section "\"OFXRENDER ${command}\"" "${text}")
  string(TOUPPER "${section}" upper)
  # Only the title is upper case, as man pages have it.
  string(REGEX REPLACE "^\\.SH [^\n]*" "" rest "${section}")
  string(REGEX MATCH "^\\.SH [^\n]*" title "${upper}")
  string(APPEND page "${title}${rest}")
endforeach()

get_filename_component(dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
file(WRITE "${plain}" "${page}")
# -n: no name or time stamp in the archive, so a rebuild gives the same bytes.
execute_process(COMMAND "${GZIP}" -9nf "${plain}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GZIP} ${plain} failed (${status})")
endif()
