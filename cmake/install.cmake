# The installed tree: the programs (the device helper as an internal program
# under libexec), their manual pages and vantor-cli's bash completion, the
# desktop entry with its icons and AppStream metadata, the read-me, the udev
# rules as the package's own files in lib/udev/rules.d, and the components
# the installer handles (the same rules, and an empty automation-server
# folder, which makes the program serve its own objects) in share/vantor,
# where the desktop entry starts the program. The Debian package (debian/)
# is built over this tree; its maintainer scripts register the components on
# installation and unregister them on removal.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantor)
set(VANTOR_SHARE ${CMAKE_INSTALL_DATADIR}/vantor)

install(TARGETS vantor-cli vantor-phonesim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vantor-devices RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vantor)
install(FILES resources/man/vantor-cli.1 resources/man/vantor-phonesim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES resources/bash-completion/vantor-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
if(VANTOR_BUILD_UI)
  install(TARGETS vantor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES resources/man/vantor.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES resources/vantor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES resources/vantor.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          RENAME com.orlesk.vantor.metainfo.xml)
  install(FILES resources/vantor.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  include(cmake/icons.cmake)
endif()
install(FILES resources/rules/51-android.rules DESTINATION ${VANTOR_SHARE}/Google/Driver)
install(FILES resources/rules/qcser.rules DESTINATION ${VANTOR_SHARE}/Qualcomm/Driver/${CMAKE_SYSTEM_PROCESSOR})
# The names the installer gives them in a rules folder.
install(FILES resources/rules/51-android.rules DESTINATION lib/udev/rules.d RENAME 60-vantor-51-android.rules)
install(FILES resources/rules/qcser.rules DESTINATION lib/udev/rules.d RENAME 60-vantor-qcser.rules)
install(DIRECTORY DESTINATION ${VANTOR_SHARE}/Qualcomm/QPST)
install(FILES resources/ReadMe.txt README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
