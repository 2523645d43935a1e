# Installation and the Debian package.
#
# The programs and what they find beside themselves (the installation
# folder: language files, tips, help book, filters, the LibreOffice bridge)
# go to lib/quillfence/, as in the build tree's bin/; bin/ holds relative
# links to the two programs.  Desktop entry, icons, the options-file type,
# man pages and the package documents go to share/.
set(QF_INSTALL_FOLDER lib/quillfence)
set(QF_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(QF_STAGE ${CMAKE_BINARY_DIR}/packaging)

set(programs quillfence-batch)
if(TARGET quillfence)
    list(APPEND programs quillfence)
endif()
install(TARGETS ${programs} RUNTIME DESTINATION ${QF_INSTALL_FOLDER})
# The PDF reader the run starts for each PDF attachment; no link in bin/.
install(TARGETS quillfence-pdftext RUNTIME DESTINATION ${QF_INSTALL_FOLDER})
if(TARGET qf_wordproc_uno)
    install(TARGETS qf_wordproc_uno LIBRARY DESTINATION ${QF_INSTALL_FOLDER})
endif()
# Whatever the build puts beside the programs.
install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/ DESTINATION ${QF_INSTALL_FOLDER}
    PATTERN quillfence EXCLUDE
    PATTERN quillfence-batch EXCLUDE
    PATTERN quillfence-pdftext EXCLUDE
    # Developers' tools that sit beside the programs in the build tree: the
    # language-file recorder and the status window's screenshot maker.
    PATTERN quillfence-langfile EXCLUDE
    PATTERN status_screenshots EXCLUDE)

file(MAKE_DIRECTORY ${QF_STAGE}/links)
foreach(program ${programs})
    file(CREATE_LINK ../${QF_INSTALL_FOLDER}/${program} ${QF_STAGE}/links/${program} SYMBOLIC)
    install(FILES ${QF_STAGE}/links/${program} DESTINATION bin)
endforeach()

# Man pages and the changelog, compressed without time stamps.
set(compressed)
foreach(page quillfence quillfence-batch)
    add_custom_command(OUTPUT ${QF_STAGE}/${page}.1.gz
        COMMAND gzip -9nc ${QF_PACKAGING}/man/${page}.1 > ${QF_STAGE}/${page}.1.gz
        DEPENDS ${QF_PACKAGING}/man/${page}.1 VERBATIM)
    list(APPEND compressed ${QF_STAGE}/${page}.1.gz)
    install(FILES ${QF_STAGE}/${page}.1.gz DESTINATION share/man/man1)
endforeach()
add_custom_command(OUTPUT ${QF_STAGE}/changelog.gz
    COMMAND gzip -9nc ${QF_PACKAGING}/changelog > ${QF_STAGE}/changelog.gz
    DEPENDS ${QF_PACKAGING}/changelog VERBATIM)
add_custom_target(qf_packaging_files ALL DEPENDS ${compressed} ${QF_STAGE}/changelog.gz)
install(FILES ${QF_STAGE}/changelog.gz ${QF_PACKAGING}/copyright DESTINATION share/doc/quillfence)
install(FILES ${QF_PACKAGING}/lintian-overrides DESTINATION share/lintian/overrides
    RENAME quillfence)

if(TARGET quillfence)
    install(FILES ${QF_PACKAGING}/quillfence.desktop DESTINATION share/applications)
    install(FILES ${QF_PACKAGING}/quillfence-mime.xml DESTINATION share/mime/packages
        RENAME quillfence.xml)
    install(FILES ${QF_PACKAGING}/icons/quillfence.svg
        DESTINATION share/icons/hicolor/scalable/apps)
    foreach(size 16 24 32 48 64 128 256)
        install(FILES ${QF_PACKAGING}/icons/quillfence-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME quillfence.png)
    endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillfence)
set(CPACK_PACKAGE_VENDOR Brindlemox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillfence packaging <packaging@quillfence.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries of the programs come from dpkg-shlibdeps.  LibreOffice
# Writer turns documents into text; xdg-utils opens folders, files and web
# pages.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libreoffice-writer-nogui | libreoffice-writer, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "dovecot-imapd")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "turn mail folders into numbered text files\n"
    "Quillfence turns the emails waiting in a mail folder (Maildir or IMAP)\n"
    "into numbered plain-text files, one per email: a templated header, the\n"
    "body, and every attachment turned into text, ready to load into another\n"
    "system such as an applicant database.\n"
    "\n"
    "The package holds the desktop settings wizard (quillfence) and the\n"
    "headless front end for terminals and schedulers (quillfence-batch).")
include(CPack)
