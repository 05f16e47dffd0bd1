# Install rules and packages: a Debian package on Linux, a zip on Windows.
# Included at the end of the top-level CMakeLists.txt, once every area has added its
# targets; a platform whose program targets are missing gets no package.

set(CPACK_PACKAGE_NAME pulsemeter)
set(CPACK_PACKAGE_VENDOR "pulsemeter")
set(CPACK_PACKAGE_CONTACT "pulsemeter maintainers <maintainers@pulsemeter.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Measures the period and frequency of a pulse signal with a USB counter")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  if(NOT (TARGET pulsemeter AND TARGET FTD2XX))
    return()
  endif()
  # The program on its own: with the counter's driver installed, the library comes
  # from the system.
  install(TARGETS pulsemeter RUNTIME DESTINATION . COMPONENT program)
  # The demonstration: a second copy beside the simulating stand-in library, which
  # must never sit beside the real program.
  install(TARGETS pulsemeter RUNTIME DESTINATION demo COMPONENT program)
  install(TARGETS FTD2XX RUNTIME DESTINATION demo COMPONENT program)
  install(FILES ${PROJECT_SOURCE_DIR}/platform/windows/run-demo.bat DESTINATION demo
    COMPONENT program)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/windows.md ${PROJECT_SOURCE_DIR}/docs/screenshot-windows.png
    DESTINATION . COMPONENT program)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pulsemeter-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  if(NOT (TARGET pulsemeter AND TARGET pulsemeter-sim))
    return()
  endif()
  include(GNUInstallDirs)
  install(TARGETS pulsemeter pulsemeter-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT program)
  # The GTK front the programs load when they show a window; they look for it in
  # ../${PULSEMETER_GTK_FRONT_INSTALL_DIR} beside their own folder.
  if(TARGET pulsemeter-gtk-front)
    install(TARGETS pulsemeter-gtk-front LIBRARY DESTINATION ${PULSEMETER_GTK_FRONT_INSTALL_DIR}
      COMPONENT program)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/pulsemeter.desktop
    ${PROJECT_SOURCE_DIR}/packaging/pulsemeter-sim.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  # The readout asks for a Japanese gothic face; IPAGothic stands in for it.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
  find_program(dpkg_shlibdeps dpkg-shlibdeps)
  if(dpkg_shlibdeps)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    message(STATUS "dpkg-shlibdeps not found: the Debian package lists no library dependencies")
  endif()
endif()

include(CPack)
