# cmake --install: the two programs, the desktop entry and icons, the tips and the user guide.
# The program finds Language/ and guide/ in <prefix>/share/captiomark beside its bin/ folder.
include(GNUInstallDirs)
install(TARGETS captiomark captiomark-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/captiomark.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY data/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(DIRECTORY data/Language DESTINATION ${CMAKE_INSTALL_DATADIR}/captiomark)
install(DIRECTORY docs/guide DESTINATION ${CMAKE_INSTALL_DATADIR}/captiomark)
