# Tolvek's folders depend in one direction: each may include its own headers
# and those of the folders below it, never one above. Run as
#   cmake -DTOLVEK_DIR=<source>/tolvek -P layers.cmake
# Fails naming every include that points upwards.
cmake_minimum_required(VERSION 3.25)
if(NOT TOLVEK_DIR)
  message(FATAL_ERROR "layers.cmake: set TOLVEK_DIR to the tolvek/ source folder")
endif()

# What each folder may include besides itself: folders, and top-level headers
# that stand alone (the image, numbers as the user writes them, the version).
set(allowed_cpu      image.hpp)
set(allowed_c64      image.hpp cpu)
set(allowed_syntax   cpu c64)
set(allowed_emu      image.hpp cpu c64)
set(allowed_hints    image.hpp number.hpp cpu c64 syntax emu)
set(allowed_analysis image.hpp number.hpp cpu c64 syntax emu hints)
set(allowed_output   image.hpp number.hpp version.hpp cpu c64 syntax emu hints analysis)
set(folders cpu c64 syntax emu hints analysis output)

set(upward "")
foreach(folder IN LISTS folders)
  file(GLOB sources "${TOLVEK_DIR}/${folder}/*.hpp" "${TOLVEK_DIR}/${folder}/*.cpp")
  if(NOT sources)
    list(APPEND upward "${folder}/ has no sources: is the table above out of date?")
  endif()
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" header "${line}")
      # A header of a folder counts as that folder; a top-level one by name.
      string(REGEX REPLACE "/.*$" "" layer "${header}")
      if(layer STREQUAL folder OR layer IN_LIST allowed_${folder})
        continue()
      endif()
      file(RELATIVE_PATH name "${TOLVEK_DIR}" "${source}")
      list(APPEND upward "${name} includes ${header}")
    endforeach()
  endforeach()
endforeach()

if(upward)
  list(JOIN upward "\n  " text)
  message(FATAL_ERROR "includes against the direction of dependence:\n  ${text}")
endif()
