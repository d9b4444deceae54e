# What a desktop needs to list the program and open songs with it, and the
# Debian package (the program and its files are installed by the folders that
# build them).
set(MELO_APP_ID io.github.melotastico.Melotastico)
set(desktop ${CMAKE_SOURCE_DIR}/desktop)
install(FILES ${desktop}/${MELO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop}/${MELO_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${desktop}/${MELO_APP_ID}.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${desktop}/${MELO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# cpack -G DEB: the libraries the program links are found by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME melotastico)
set(CPACK_PACKAGE_VENDOR "Melotastico")
set(CPACK_PACKAGE_CONTACT "Melotastico developers <melotastico@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "virtual piano played on the computer keyboard")
set(CPACK_PACKAGE_DESCRIPTION "Each key of the computer keyboard sounds up to eight notes on a\n\
left-hand or right-hand voice; other keys work the pedals, transpose, octaves,\n\
velocities, voices, an accompaniment that follows the left hand's chords, and\n\
recording and playback of songs; songs are practised with falling notes that\n\
name the keys to press, and exported as audio, MIDI or video. Chinese and English.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds the X11/Wayland platform plugins at run time, so the linker cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
include(CPack)
