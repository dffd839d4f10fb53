# The Debian package, made by `make package` (cpack -G DEB in a build configured for /usr): both programs,
# the two modules, the desktop entry, the icon and the AppStream metainfo. The libraries the programs link are
# found by dpkg-shlibdeps; what they load at run time is declared here.

install(FILES ${PROJECT_SOURCE_DIR}/data/org.nagisora.nagisora.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Debian's policy asks every package for its copyright file in its documentation folder.
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/nagisora)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nagisora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shakuhachi score to MIDI converter")
set(CPACK_PACKAGE_DESCRIPTION
    "Turns shakuhachi scores written in the katakana notation of the Tozan school into Standard MIDI Files, \
plays them, and saves them. Includes the desktop program nagisora and the command-line converter \
nagisora-convert.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "nagisora developers <nagisora@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The xcb platform plugin comes with libqt6gui6, the SVG icon engine with libqt6svg6; the SoundFont, a font
# with the Japanese characters, the vertical score's font and Qt's Japanese texts are files the program reads.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6svg6, qt6-translations-l10n, timgm6mb-soundfont | fluid-soundfont-gm, fonts-ipafont-gothic | fonts-noto-cjk, fonts-ipaexfont-mincho | fonts-ipafont-mincho")
set(CPACK_STRIP_FILES ON)
include(CPack)
