# What `cmake --install` adds to the programs and the plug-in, whose rules stand
# beside their targets: the desktop entry, the icon theme's icons and the
# AppStream metadata. `cpack -G DEB` builds the Debian package from the same
# install, under /usr.
install(FILES ${PROJECT_SOURCE_DIR}/res/pictavo.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/res/icons/hicolor
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${PROJECT_SOURCE_DIR}/res/de.orvendel.pictavo.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pictavo)
set(CPACK_PACKAGE_VENDOR "Orvendel AG")
set(CPACK_PACKAGE_CONTACT "Orvendel AG <dev@pictavo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "brings photos to the wanted size and JPEG quality")
set(CPACK_PACKAGE_DESCRIPTION
    "Pictavo resizes photographs and other pictures (JPEG, GIF, BMP, PNG) to a wanted\n"
    "size and JPEG quality before they are stored or sent, shows the real result with\n"
    "its file size, converts whole folders and hands pictures to the mail program.\n"
    "The interface is German. pictavo-cli converts from the command line.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The libraries the programs and the plug-in link, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Mail hand-off goes through xdg-email; Qt's own dialogs speak German with its
# translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-translations-l10n")
include(CPack)
