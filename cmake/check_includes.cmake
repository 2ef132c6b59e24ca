# cmake -DSRC=<src folder> -P check_includes.cmake
#
# Every quoted include under SRC names its header from a layer's include root
# ("zip/format/crc32.h"). A path found beside the including file instead
# ("crc32.h", "../read/reader.h") would pass around the include roots that
# keep each layer from the layers above it. The library's public header,
# "quillon.h", is the one name without a folder.
file(GLOB_RECURSE files ${SRC}/*.cpp ${SRC}/*.h)
set(bad "")
foreach(file ${files})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" name "${line}")
    if(name STREQUAL "quillon.h")
      continue()
    endif()
    if(NOT name MATCHES "^[a-z]+/" OR name MATCHES "\\.\\.")
      file(RELATIVE_PATH where ${SRC} ${file})
      string(APPEND bad "  ${where}: ${name}\n")
    endif()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "includes that do not start at a layer's root:\n${bad}")
endif()
