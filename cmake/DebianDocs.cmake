# The two documents every Debian package carries in /usr/share/doc/prgdis,
# made from our own: the changelog in Debian's format from CHANGELOG.md,
# and the copyright file in Debian's machine-readable format from LICENSE.
# Both are rewritten when their source changes.

# Debian's date format for a date given as year, month and day (2026 12 9
# gives "Wed, 09 Dec 2026 00:00:00 +0000").
function(prgdis_rfc2822_date year month day output)
  # The weekday by Sakamoto's method: 0 is Sunday.
  set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${month} - 1")
  list(GET month_offsets ${index} offset)
  set(y ${year})
  if(month LESS 3)
    math(EXPR y "${year} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday_name)
  list(GET months ${index} month_name)
  math(EXPR day2 "${day} + 100")
  string(SUBSTRING "${day2}" 1 2 day2)
  set(${output} "${weekday_name}, ${day2} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# Writes `output` as a Debian changelog with an entry for each released
# version in the Markdown changelog `markdown` ("## [1.0.0] - 2026-12-09");
# changes not yet released have no version to go under and are left out.
function(prgdis_debian_changelog markdown output maintainer)
  file(READ ${markdown} text)
  # One list element per line; the semicolons of the text are kept apart.
  string(REPLACE ";" "@SEMICOLON@" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(changelog "")
  set(entry "")
  set(trailer "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^## ")
      if(NOT entry STREQUAL "")
        string(REGEX REPLACE "\n+$" "" entry "${entry}")
        string(APPEND changelog "${entry}\n\n${trailer}\n\n")
      endif()
      set(entry "")
      if(line MATCHES "^## \\[([0-9][0-9.]*)\\] - ([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])")
        set(version ${CMAKE_MATCH_1})
        math(EXPR month "1${CMAKE_MATCH_3} - 100")
        math(EXPR day "1${CMAKE_MATCH_4} - 100")
        prgdis_rfc2822_date(${CMAKE_MATCH_2} ${month} ${day} date)
        set(entry "prgdis (${version}) unstable@SEMICOLON@ urgency=medium\n\n")
        set(trailer " -- ${maintainer}  ${date}")
      endif()
    elseif(NOT entry STREQUAL "")
      string(REPLACE "**" "" line "${line}")
      if(line MATCHES "^### (.*)")
        string(APPEND entry "  ${CMAKE_MATCH_1}:\n")
      elseif(line MATCHES "^- (.*)")
        string(APPEND entry "  * ${CMAKE_MATCH_1}\n")
      elseif(line STREQUAL "")
        string(APPEND entry "\n")
      else()
        string(APPEND entry "  ${line}\n")
      endif()
    endif()
  endforeach()
  if(NOT entry STREQUAL "")
    string(REGEX REPLACE "\n+$" "" entry "${entry}")
    string(APPEND changelog "${entry}\n\n${trailer}\n")
  endif()
  string(REGEX REPLACE "\n\n\n+" "\n\n" changelog "${changelog}")
  string(REGEX REPLACE "\n+$" "\n" changelog "${changelog}")
  string(REPLACE "@SEMICOLON@" ";" changelog "${changelog}")
  if(changelog STREQUAL "")
    message(FATAL_ERROR "${markdown} has no released version")
  endif()
  file(CONFIGURE OUTPUT ${output} CONTENT "@changelog@" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${markdown})
endfunction()

# Writes `output` as a Debian copyright file for the MIT licence in
# `license`, whose "Copyright (c)" line names the holders.
function(prgdis_debian_copyright license output name contact)
  file(READ ${license} text)
  if(NOT text MATCHES "Copyright \\(c\\) ([^\n]*)\n+(.*[^\n])\n*$")
    message(FATAL_ERROR "${license} has no \"Copyright (c)\" line")
  endif()
  set(holders "${CMAKE_MATCH_1}")
  # The licence text as a field's continuation lines: each indented, an
  # empty line as " .".
  string(REPLACE "\n\n" "\n.\n" terms "${CMAKE_MATCH_2}")
  string(REPLACE "\n" "\n " terms " ${terms}")
  set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${name}
Upstream-Contact: ${contact}

Files: *
Copyright: ${holders}
License: Expat
${terms}
")
  file(CONFIGURE OUTPUT ${output} CONTENT "@copyright@" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license})
endfunction()
