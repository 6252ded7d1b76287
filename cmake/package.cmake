# The Debian package (scripts/package): the installed tree, its dependencies
# taken from the shared libraries the programs link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmar-recorder)
set(CPACK_PACKAGE_VENDOR Velmar)
set(CPACK_PACKAGE_CONTACT "Velmar <recorder@velmar.io>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio recorder for tapes, records and long sessions")
set(CPACK_PACKAGE_DESCRIPTION
    "Records a sound card's input into numbered WAV tracks, splitting by silence\n"
    "without losing a sample, with live level meters, plays and renames the\n"
    "tracks, fixes splits after recording and converts them to MP3 or FLAC.\n"
    "Includes the windowed recorder, velmar-rec and velmar-mp3.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
