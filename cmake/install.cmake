# The installed tree: the programs, the desktop entry and icon, the read-me,
# and the components the installer puts in place on the first start (the udev
# rules, and an empty automation-server folder, which makes the program serve
# its own objects). The desktop entry starts the program in share/vantor so
# that it finds them there.
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
install(DIRECTORY DESTINATION ${VANTOR_SHARE}/Qualcomm/QPST)
install(FILES resources/ReadMe.txt README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VERSION 6.0.0.1)
set(CPACK_PACKAGE_CONTACT "Vantor developers <vantor@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bench tool that reflashes several MSM8660 phones at once")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "udev, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fastboot, adb, pkexec, fonts-wqy-microhei")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
