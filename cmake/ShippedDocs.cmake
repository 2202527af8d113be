# Our Markdown documents as the packages ship them: a link to another
# document points to that document's name in the package, and a link to a
# file the package does not hold (the benchmarks' results, say) is left as
# its text alone, so that no link in a package leads nowhere.

# Writes `source` to `output` with its relative links rewritten. The
# arguments after `output` are pairs: a file as the source tree names it
# and its name in the package beside `output` ("tolvek/README.md"
# "Tolvek-README.txt"). A link's text that is the file's name gets the new
# name too; a "#section" after the name is kept. The output is written
# again when the source changes.
function(prgdis_shipped_markdown source output)
  set(sources)
  set(shipped)
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs from to)
    list(APPEND sources "${from}")
    list(APPEND shipped "${to}")
  endwhile()
  file(READ ${source} text)
  string(REGEX MATCHALL "\\[[^]\n]*\\]\\([^)\n]*\\)" links "${text}")
  list(REMOVE_DUPLICATES links)
  foreach(link IN LISTS links)
    string(REGEX MATCH "^\\[([^]]*)\\]\\(([^)#]*)(#[^)]*)?\\)$" whole "${link}")
    set(label "${CMAKE_MATCH_1}")
    set(target "${CMAKE_MATCH_2}")
    set(section "${CMAKE_MATCH_3}")
    # A section of the same document, or a web address, stays as it is.
    if(target STREQUAL "" OR target MATCHES "^[a-z]+:")
      continue()
    endif()
    list(FIND sources "${target}" index)
    if(index GREATER_EQUAL 0)
      list(GET shipped ${index} name)
      string(REPLACE "${target}" "${name}" label "${label}")
      string(REPLACE "${link}" "[${label}](${name}${section})" text "${text}")
    else()
      string(REPLACE "${link}" "${label}" text "${text}")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${output} CONTENT "@text@" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
