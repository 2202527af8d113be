# On Windows both programs carry an application manifest that makes UTF-8
# their code page, so that names beyond the system's code page (ü.prg on an
# English system, 日本.prg on a German one) work through cmd.exe as well.
if(WIN32 AND NOT MSVC)
  enable_language(RC)
endif()

function(prgdis_utf8_code_page target)
  if(MSVC)
    # The linker merges a .manifest source into the program's manifest.
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/utf8-code-page.manifest)
  elseif(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/utf8-code-page.rc)
  endif()
endfunction()
