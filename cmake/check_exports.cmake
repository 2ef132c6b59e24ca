# cmake -DROOT=<source folder> -P check_exports.cmake
#
# The names a host binds are listed in four files: src/exports/libquillon.def
# (the Windows linker's list, and the list the library ships) is the one they
# follow. The public header declares them, src/exports/exports.map keeps them
# visible in the Linux library, and the command-line host's table
# (tools/library.cpp) binds them. Each of the three must name exactly the
# names of the .def, each once.

cmake_minimum_required(VERSION 3.16)

# Every name the .def lists after EXPORTS; `;` starts a comment.
file(STRINGS ${ROOT}/src/exports/libquillon.def def_lines)
set(def_names "")
set(in_exports FALSE)
foreach(line ${def_lines})
  string(REGEX REPLACE ";.*$" "" line "${line}")
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  if(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
  elseif(in_exports)
    # An entry may carry an ordinal or flags after its name.
    string(REGEX MATCH "^[A-Za-z_][A-Za-z0-9_]*" name "${line}")
    list(APPEND def_names "${name}")
  endif()
endforeach()

# The header: every QUILLON_API declaration. A declaration may wrap its
# parameters onto further lines, but its name is on the first one.
file(STRINGS ${ROOT}/include/quillon.h header_lines REGEX "^[ \t]*QUILLON_API[ \t]")
set(header_names "")
foreach(line ${header_lines})
  if(NOT line MATCHES "QUILLON_CALL[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\(")
    message(FATAL_ERROR "include/quillon.h: a declaration the check cannot read:\n  ${line}")
  endif()
  list(APPEND header_names "${CMAKE_MATCH_1}")
endforeach()

# The version script: the names between `global:` and `local:`.
file(READ ${ROOT}/src/exports/exports.map map_text)
string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" map_text "${map_text}")
if(NOT map_text MATCHES "global:(.*)local:")
  message(FATAL_ERROR "src/exports/exports.map: no global: and local: sections")
endif()
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" map_names "${CMAKE_MATCH_1}")

# The host's table: the first text of each entry between export_table() and
# its `return table;`.
file(READ ${ROOT}/tools/library.cpp host_text)
if(NOT host_text MATCHES "export_table\\(\\)[ \t]*{(.*)return table;")
  message(FATAL_ERROR "tools/library.cpp: no export_table() with its table")
endif()
string(REGEX MATCHALL "{[ \t]*\"[^\"]*\"" host_entries "${CMAKE_MATCH_1}")
set(host_names "")
foreach(entry ${host_entries})
  string(REGEX REPLACE "^{[ \t]*\"([^\"]*)\"$" "\\1" name "${entry}")
  list(APPEND host_names "${name}")
endforeach()

set(report "")

# Names that a list holds more than once.
function(check_repeats where names)
  set(seen "")
  foreach(name ${names})
    if(name IN_LIST seen)
      string(APPEND report "  ${where}: ${name} is listed more than once\n")
    endif()
    list(APPEND seen "${name}")
  endforeach()
  set(report "${report}" PARENT_SCOPE)
endfunction()

check_repeats(src/exports/libquillon.def "${def_names}")
if(NOT def_names)
  string(APPEND report "  src/exports/libquillon.def: no names after EXPORTS\n")
endif()

foreach(pair "include/quillon.h;header_names" "src/exports/exports.map;map_names"
             "tools/library.cpp;host_names")
  list(GET pair 0 where)
  list(GET pair 1 var)
  set(names "${${var}}")
  check_repeats(${where} "${names}")
  foreach(name ${def_names})
    if(NOT name IN_LIST names)
      string(APPEND report "  ${where}: lacks ${name}\n")
    endif()
  endforeach()
  foreach(name ${names})
    if(NOT name IN_LIST def_names)
      string(APPEND report "  ${where}: ${name} is not in src/exports/libquillon.def\n")
    endif()
  endforeach()
endforeach()

if(report)
  message(FATAL_ERROR "the export lists differ from src/exports/libquillon.def:\n${report}")
endif()
list(LENGTH def_names count)
message(STATUS "${count} exports, the same in all four lists")
