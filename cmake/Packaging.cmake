# `make deb`: a Debian package of the three programs, a menu entry and its icon, built by
# CPack from this build folder. Its version is the project's; its dependencies come from the
# libraries the programs link (dpkg-shlibdeps) plus Samba's testparm, which lists the shares.
include(GNUInstallDirs)

install(TARGETS quillon-id quillon-host quillon-inspect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillon-id.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/quillon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME quillon-id.png)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillon-id.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian wants the copyright and a compressed changelog in the package's doc folder; a version
# without a Debian revision makes a native package, whose changelog is plain changelog.gz.
set(_quillon_doc ${CMAKE_INSTALL_DATADIR}/doc/quillon-id)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/changelog)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${_quillon_doc})
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${_quillon_doc})

foreach(_program quillon-id quillon-host quillon-inspect)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${_program}.1
                   ${CMAKE_BINARY_DIR}/man/${_program}.1 @ONLY)
    execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/${_program}.1)
    install(FILES ${CMAKE_BINARY_DIR}/man/${_program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon-id)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "Quillon ID developers <quillon-id@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finish-line identification video recorder")
# The summary above is the first line; this is the text under it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quillon ID records the finish line of a race with an industrial camera,\n"
    "steered by a photo-finish host program over TCP. Every frame carries the\n"
    "host's race time. Also contains quillon-host, a host for rehearsals, and\n"
    "quillon-inspect, which checks and repairs recordings.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS samba-common-bin)
include(CPack)
