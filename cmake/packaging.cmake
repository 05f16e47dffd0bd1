# The packages: a Debian package on Linux, a zip on Windows, of what the install rules
# beside each target put in. Included at the end of the top-level CMakeLists.txt, once
# every area has added its targets; a platform whose program targets are missing gets
# no package.

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
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pulsemeter-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  if(NOT (TARGET pulsemeter AND TARGET pulsemeter-sim))
    return()
  endif()
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
