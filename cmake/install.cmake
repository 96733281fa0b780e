# The installed tree: the programs, the desktop entry and icon, the read-me
# and the copyright file, the udev rules as the package's own files in
# lib/udev/rules.d, and the components the installer handles (the same rules,
# and an empty automation-server folder, which makes the program serve its
# own objects) in share/vantor, where the desktop entry starts the program.
# The Debian package's maintainer scripts register the components on
# installation and unregister them on removal.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantor)
set(VANTOR_SHARE ${CMAKE_INSTALL_DATADIR}/vantor)

install(TARGETS vantor-cli vantor-devices RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(VANTOR_BUILD_UI)
  install(TARGETS vantor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES resources/vantor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES resources/vantor.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES resources/rules/51-android.rules DESTINATION ${VANTOR_SHARE}/Google/Driver)
install(FILES resources/rules/qcser.rules DESTINATION ${VANTOR_SHARE}/Qualcomm/Driver/${CMAKE_SYSTEM_PROCESSOR})
# The names the installer gives them in a rules folder.
install(FILES resources/rules/51-android.rules DESTINATION lib/udev/rules.d RENAME 60-vantor-51-android.rules)
install(FILES resources/rules/qcser.rules DESTINATION lib/udev/rules.d RENAME 60-vantor-qcser.rules)
install(DIRECTORY DESTINATION ${VANTOR_SHARE}/Qualcomm/QPST)
install(FILES resources/ReadMe.txt README.md resources/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VERSION 6.0.0.1)
set(CPACK_PACKAGE_CONTACT "Vantor developers <vantor@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bench tool that reflashes several MSM8660 phones at once")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "udev, qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fastboot, adb, pkexec, fonts-wqy-microhei")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/resources/debian/postinst
  ${CMAKE_SOURCE_DIR}/resources/debian/prerm
  ${CMAKE_SOURCE_DIR}/resources/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
