# Installation and the Debian package. The programs go to bin/, the user
# guide to share/tavrick/Guide/ (where an installed converter looks after its
# own folder), the desktop entry, the hicolor icons and the man page where the
# desktop and man expect them.
include(GNUInstallDirs)

set(programs tavrick Vellux)
if(TAVRICK_GUI)
  list(PREPEND programs converter)
endif()
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/guide/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavrick/Guide)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tavrick.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TAVRICK_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tavrick.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/art/icons/tavrick-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tavrick.png)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/resources/art/icons/tavrick.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# cpack -G DEB: the product's version, and the libraries the programs link as
# declared dependencies (dpkg-shlibdeps reads them from the installed programs).
set(CPACK_PACKAGE_NAME tavrick)
set(CPACK_PACKAGE_VERSION 2.03c)
set(CPACK_PACKAGE_VENDOR "Norvane Software")
set(CPACK_PACKAGE_CONTACT "Tavrick <tavrick@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "frame-rate converter for AVI files")
set(CPACK_PACKAGE_DESCRIPTION "Tavrick changes the frame rate of AVI files by temporal interpolation with
one of ten methods, deinterlaces, resizes and letterboxes, and carries the
sound over unchanged. converter is the desktop program, tavrick the same
conversion from the command line.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
