# The Debian package: `cpack -G DEB` in the build folder makes velmora_VERSION_ARCH.deb from what
# `cmake --install` puts under /usr. dpkg-shlibdeps finds the libraries the programs link; what they load
# at run time (the QML modules the pages import, the fonts they show) is named here, as shlibdeps cannot
# see it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Velmora developers <velmora@velmora.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "overlay widget that shows and controls the playing music")
# The synopsis is the summary; CPack indents these lines.
set(CPACK_PACKAGE_DESCRIPTION "Velmora is a small always-on-top window over a game that shows what the
Corvana desktop app (or any MPRIS media player, through velmora-mpris) is
playing and controls it: play, pause, skip, seek, shuffle, repeat, volume,
library and devices. A global shortcut (Super+Alt+M on X11) or
velmora --toggle shows and hides it.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmora.org")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The web front end's module takes its symbols from the program that loads it: its own undefined symbols
# are no libraries to depend on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/lib/velmora)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-layouts, qml6-module-qtquick-window, qml6-module-qtqml-workerscript, qml6-module-qtqml, qml6-module-qtqml-models, qml6-module-qtwebengine, qml6-module-qtwebchannel, fonts-inter, dbus-user-session | dbus-x11, gnome-keyring | kwalletmanager | org.freedesktop.secrets")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Only the application: the test and benchmark programs install nothing.
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")

# Debian's documentation files: the copyright file, and a changelog (gzipped, without a time stamp).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION share/doc/velmora)
set(VELMORA_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${VELMORA_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -n -9 -c ${CMAKE_CURRENT_LIST_DIR}/changelog > ${VELMORA_CHANGELOG_GZ}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog)
add_custom_target(velmora-changelog ALL DEPENDS ${VELMORA_CHANGELOG_GZ})
install(FILES ${VELMORA_CHANGELOG_GZ} DESTINATION share/doc/velmora)

include(CPack)
