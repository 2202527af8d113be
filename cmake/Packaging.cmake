# What `cmake --install` puts where, and the packages CPack makes of it:
# on Windows a ZIP to unpack and run; elsewhere a .deb (programs in
# /usr/bin, manual pages, documentation) and a .tar.gz of the same tree.
# scripts/packages.sh builds them and checks what is inside.
if(WIN32)
  # Everything in one folder: the programs side by side (prgdis finds
  # Tolvek.exe there), the texts under names that Windows opens.
  install(FILES README.md DESTINATION . RENAME README.txt)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  install(FILES CHANGELOG.md DESTINATION . RENAME CHANGELOG.txt)
  install(FILES examples/hello.prg examples/hello.asm examples/hello.hints DESTINATION examples)
else()
  # Manual pages with the version filled in, compressed as Debian keeps them.
  set(manuals)
  foreach(page prgdis.1 Tolvek.1)
    configure_file(man/${page}.in ${CMAKE_BINARY_DIR}/man/page/${page} @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/man/page/${page} ${CMAKE_BINARY_DIR}/man/${page}
      COMMAND gzip -9 -n -f ${CMAKE_BINARY_DIR}/man/${page}
      DEPENDS ${CMAKE_BINARY_DIR}/man/page/${page}
      VERBATIM)
    list(APPEND manuals ${CMAKE_BINARY_DIR}/man/${page}.gz)
  endforeach()
  add_custom_target(manuals ALL DEPENDS ${manuals})
  install(FILES ${manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES tolvek/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME Tolvek.md)
  install(FILES examples/hello.prg examples/hello.asm examples/hello.hints DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()

set(CPACK_PACKAGE_NAME prgdis)
set(CPACK_PACKAGE_VENDOR "the prgdis developers")
set(CPACK_PACKAGE_CONTACT "the prgdis developers <prgdis@users.noreply.github.com>")
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
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${PROJECT_DESCRIPTION}
 prgdis takes a C64 program file, finds its entry from the BASIC SYS line
 and runs the bundled 6502 disassembler Tolvek.exe, which writes assembly
 source for ACME, 64tass or ca65 that rebuilds the identical program, and
 a listing.")
endif()
include(CPack)
