# Installation and the Debian package.
#
#   cmake --install build --prefix /usr/local     # install from source
#   make package                                  # build/package/kelpie_*.deb
#
# Everything installed here belongs to the component "kelpie", and the
# package holds that component only, so install rules that a test or
# benchmark dependency may bring along never end up in it.

include(GNUInstallDirs)

set(KELPIE_PACKAGING ${CMAKE_CURRENT_LIST_DIR})
set(KELPIE_COMPONENT kelpie)

# Packaging needs only the programs, not the tests and benchmarks: `install`
# and cpack do not build `all` first (the Makefile's `package` target builds
# what the package holds).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS kelpie kelpie-peer
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${KELPIE_COMPONENT})
# kelpie keeps its debug information: its error reporter names the source
# line of a fault from it. kelpie-peer has no use for it and is stripped.
install(CODE "
  execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
    --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kelpie-peer\"
    COMMAND_ERROR_IS_FATAL ANY)
  " COMPONENT ${KELPIE_COMPONENT})
install(FILES ${KELPIE_PACKAGING}/lintian/kelpie
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${KELPIE_COMPONENT})

install(FILES ${KELPIE_PACKAGING}/kelpie.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${KELPIE_COMPONENT})
install(FILES ${KELPIE_PACKAGING}/icons/kelpie.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT ${KELPIE_COMPONENT})
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${KELPIE_PACKAGING}/icons/kelpie-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME kelpie.png COMPONENT ${KELPIE_COMPONENT})
endforeach()

# Manual pages go in compressed, as Debian installs them (gzip -9n: no name
# or time stamp, so the same page gives the same bytes).
find_program(KELPIE_GZIP gzip REQUIRED)
set(KELPIE_MAN_PAGES "")
foreach(page kelpie.1 kelpie-peer.1)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/packaging/man/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging/man
    COMMAND ${CMAKE_COMMAND} -E copy ${KELPIE_PACKAGING}/man/${page} ${CMAKE_CURRENT_BINARY_DIR}/packaging/man/${page}
    COMMAND ${KELPIE_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/packaging/man/${page}
    DEPENDS ${KELPIE_PACKAGING}/man/${page}
    VERBATIM)
  list(APPEND KELPIE_MAN_PAGES ${compressed})
endforeach()
add_custom_target(kelpie-man-pages ALL DEPENDS ${KELPIE_MAN_PAGES})
install(FILES ${KELPIE_MAN_PAGES}
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${KELPIE_COMPONENT})

# The service. Its settings live in /etc/default whatever the prefix, as the
# unit names them there; the unit names the program by the prefix it is
# installed under, which cpack sets to /usr, so it is written at install time.
install(FILES ${KELPIE_PACKAGING}/systemd/kelpie-peer.default
  DESTINATION /etc/default RENAME kelpie-peer COMPONENT ${KELPIE_COMPONENT})
install(FILES ${KELPIE_PACKAGING}/systemd/kelpie-peer.sysusers
  DESTINATION lib/sysusers.d RENAME kelpie-peer.conf COMPONENT ${KELPIE_COMPONENT})
install(CODE "
  set(KELPIE_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${KELPIE_PACKAGING}/systemd/kelpie-peer.service.in\"
    \"${CMAKE_CURRENT_BINARY_DIR}/packaging/kelpie-peer.service\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\" TYPE FILE
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    FILES \"${CMAKE_CURRENT_BINARY_DIR}/packaging/kelpie-peer.service\")
  " COMPONENT ${KELPIE_COMPONENT})

# The Debian package.
set(KELPIE_PACKAGE_MAINTAINER "Kelpie developers <kelpie@example.org>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelpie)
set(CPACK_PACKAGE_VENDOR Kelpie)
set(CPACK_PACKAGE_CONTACT "${KELPIE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compare a file with a peer's copy and rebuild the peer's version")
set(CPACK_PACKAGE_DESCRIPTION
  "Kelpie compares a file on one machine with a file on another and rebuilds
the other machine's version locally, moving over the network only the bytes
the local copy does not already hold.
.
The package holds the window program kelpie, the program without a window
kelpie-peer, and a systemd unit that runs kelpie-peer as a service offering
the files named in /etc/default/kelpie-peer.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};${KELPIE_COMPONENT};/")
set(CPACK_OUTPUT_FILE_PREFIX package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KELPIE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: from the libraries the programs really link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${KELPIE_PACKAGING}/debian/conffiles
  ${KELPIE_PACKAGING}/debian/postinst
  ${KELPIE_PACKAGING}/debian/prerm
  ${KELPIE_PACKAGING}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
