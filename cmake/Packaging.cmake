# What `cmake --install` puts where, and the packages CPack makes of it:
# on Windows a ZIP to unpack and run; elsewhere a .deb (programs in
# /usr/bin, manual pages, documentation) and a .tar.gz of the same tree.
# scripts/packages.sh builds them and checks what is inside.

# Who answers for the packages: the .deb's maintainer, and the contact in
# its changelog and copyright file.
set(CPACK_PACKAGE_CONTACT "the prgdis developers <prgdis@users.noreply.github.com>")

# The documents, under the names each package gives them, with their links
# pointing to each other there (cmake/ShippedDocs.cmake).
include(cmake/ShippedDocs.cmake)
set(document_sources README.md tolvek/README.md LICENSE CHANGELOG.md)
if(WIN32)
  set(document_names README.txt Tolvek-README.txt LICENSE.txt CHANGELOG.txt)
else()
  set(document_names README.md Tolvek.md LICENSE CHANGELOG.md)
endif()
set(document_links)
foreach(source name IN ZIP_LISTS document_sources document_names)
  list(APPEND document_links ${source} ${name})
endforeach()
set(documents)
foreach(source name IN ZIP_LISTS document_sources document_names)
  if(source MATCHES "[.]md$")
    prgdis_shipped_markdown(${PROJECT_SOURCE_DIR}/${source} ${CMAKE_BINARY_DIR}/doc/${name} ${document_links})
  else()
    configure_file(${PROJECT_SOURCE_DIR}/${source} ${CMAKE_BINARY_DIR}/doc/${name} COPYONLY)
  endif()
  list(APPEND documents ${CMAKE_BINARY_DIR}/doc/${name})
endforeach()

if(WIN32)
  # Everything in one folder: the programs side by side (prgdis runs the
  # Tolvek.exe beside it), the texts under names that Windows opens.
  install(FILES ${documents} DESTINATION .)
  install(FILES examples/hello.prg examples/hello.asm examples/hello.hints DESTINATION examples)
else()
  # Manual pages with the version filled in, and Debian's changelog and
  # copyright file (cmake/DebianDocs.cmake).
  foreach(page prgdis.1 Tolvek.1)
    configure_file(man/${page}.in ${CMAKE_BINARY_DIR}/man/page/${page} @ONLY)
  endforeach()
  include(cmake/DebianDocs.cmake)
  prgdis_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${CMAKE_BINARY_DIR}/doc/page/changelog
    "${CPACK_PACKAGE_CONTACT}")
  prgdis_debian_copyright(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/doc/copyright
    ${PROJECT_NAME} "${CPACK_PACKAGE_CONTACT}")
  # The pages and the changelog compressed, as Debian keeps them.
  set(compressed)
  foreach(file man/prgdis.1 man/Tolvek.1 doc/changelog)
    get_filename_component(folder ${file} DIRECTORY)
    get_filename_component(name ${file} NAME)
    set(source ${CMAKE_BINARY_DIR}/${folder}/page/${name})
    set(output ${CMAKE_BINARY_DIR}/${file})
    add_custom_command(OUTPUT ${output}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
      COMMAND gzip -9 -n -f ${output}
      DEPENDS ${source}
      VERBATIM)
    list(APPEND compressed ${output}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})
  # The disassembler's page also under the name it is called by, so that
  # `man Tolvek.exe` finds it.
  file(CREATE_LINK Tolvek.1.gz ${CMAKE_BINARY_DIR}/man/Tolvek.exe.1.gz SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/man/prgdis.1.gz ${CMAKE_BINARY_DIR}/man/Tolvek.1.gz
    ${CMAKE_BINARY_DIR}/man/Tolvek.exe.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${documents} ${CMAKE_BINARY_DIR}/doc/changelog.gz ${CMAKE_BINARY_DIR}/doc/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES examples/hello.prg examples/hello.asm examples/hello.hints DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()

set(CPACK_PACKAGE_NAME prgdis)
set(CPACK_PACKAGE_VENDOR "the prgdis developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "prgdis-${PROJECT_VERSION}-windows-x86_64")
  # The ZIP unpacks into one folder named like itself.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_PACKAGE_FILE_NAME "prgdis-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
  # The .deb installs under /usr; the .tar.gz holds bin/ and share/.
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackOptions.cmake)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the text
  # below it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "prgdis takes a C64 program file, finds its entry from the BASIC SYS line
and runs the bundled 6502 disassembler Tolvek.exe, which writes assembly
source for ACME, 64tass or ca65 that rebuilds the identical program, and
a listing.")
endif()
include(CPack)
