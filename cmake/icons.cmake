# PNG icons in the usual hicolor sizes beside the scalable one, drawn from
# resources/vantor.svg by rsvg-convert (librsvg2-bin, which the Debian
# package's build needs). A build without it installs the scalable icon only.
find_program(VANTOR_RSVG_CONVERT rsvg-convert)
if(VANTOR_RSVG_CONVERT)
  set(vantor_icons)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/vantor.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${VANTOR_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/resources/vantor.svg
      DEPENDS ${CMAKE_SOURCE_DIR}/resources/vantor.svg
      VERBATIM)
    list(APPEND vantor_icons ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(vantor_png_icons ALL DEPENDS ${vantor_icons})
endif()
