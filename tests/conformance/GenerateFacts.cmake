# cmake -DPROPS=props.tsv -DACTIONS=action-args.tsv -DDEFAULTS=defaults.tsv
#       -DOUTPUT=facts.inc -P
#
# Turns the fact tables into C initialisers for the conformance probe:
#   {"set", "", "property", "type", dimension},          one per props row
#   {"action", "inArgs", "property", "type", dimension}, one per action row
#   {"where", "property", "type", "default"},            one per default row

cmake_policy(SET CMP0007 NEW) # keep the empty fields of a row

function(emit_rows tsv kind out_var)
  file(STRINGS "${tsv}" lines)
  set(rows "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^#" OR line STREQUAL "")
      continue()
    endif()
    # Fields may be empty; keep them by splitting on tabs by hand.
    string(REPLACE "\t" ";" fields "${line}")
    list(GET fields 0 group)
    if(kind STREQUAL "defaults")
      list(GET fields 1 name)
      list(GET fields 2 type)
      list(GET fields 3 value)
      string(APPEND rows
        "  {\"${group}\", \"${name}\", \"${type}\", \"${value}\"},\n")
      continue()
    endif()
    if(kind STREQUAL "props")
      set(args "")
      list(GET fields 1 name)
      list(GET fields 2 type)
      list(GET fields 3 dimension)
    else()
      list(GET fields 1 args)
      list(GET fields 2 name)
      list(GET fields 3 type)
      list(GET fields 4 dimension)
    endif()
    string(APPEND rows
      "  {\"${group}\", \"${args}\", \"${name}\", \"${type}\", ${dimension}},\n")
  endforeach()
  set(${out_var} "${rows}" PARENT_SCOPE)
endfunction()

emit_rows("${PROPS}" props prop_rows)
emit_rows("${ACTIONS}" actions action_rows)
emit_rows("${DEFAULTS}" defaults default_rows)
set(text "/* Generated from the tables in facts/; do not edit. */\n")
string(APPEND text "static const Fact propertyFacts[] = {\n${prop_rows}};\n")
string(APPEND text "static const Fact actionFacts[] = {\n${action_rows}};\n")
string(APPEND text
  "static const DefaultFact defaultFacts[] = {\n${default_rows}};\n")
# Rewrite only on change, so the probe is not rebuilt for nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
