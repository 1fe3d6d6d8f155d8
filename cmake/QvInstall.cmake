# Install layout and the Debian package. Everything here hangs off the program
# target, so the tree still configures while the application is not there.
if(NOT TARGET quorvelan)
  message(STATUS "quorvelan: no program target yet, install rules and packaging skipped")
  return()
endif()

include(GNUInstallDirs)
set(_qv_pkg ${PROJECT_SOURCE_DIR}/packaging)

# Installed 0755 root:root; the package's postinst narrows it to root:quorvelan
# 0750 and adds cap_net_raw. Never setuid: Qt refuses to run that way.
install(TARGETS quorvelan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
              WORLD_READ WORLD_EXECUTE)

install(FILES ${_qv_pkg}/quorvelan.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_qv_pkg}/io.github.quorvelan.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 48 128)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/quorvelan-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME quorvelan.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/quorvelan.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian ships manual pages compressed, reproducibly (no name or time in the gzip header).
set(_qv_man ${CMAKE_CURRENT_BINARY_DIR}/quorvelan.1.gz)
add_custom_command(OUTPUT ${_qv_man}
  COMMAND gzip -9nc ${_qv_pkg}/quorvelan.1 > ${_qv_man}
  DEPENDS ${_qv_pkg}/quorvelan.1
  VERBATIM)
add_custom_target(qv_manpage ALL DEPENDS ${_qv_man})
install(FILES ${_qv_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian's documentation: a machine-readable copyright file, and the changelog
# compressed as the manual page is. The package is native (no Debian revision),
# so the changelog is changelog.gz.
install(FILES ${_qv_pkg}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(_qv_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${_qv_changelog}
  COMMAND gzip -9nc ${_qv_pkg}/debian/changelog > ${_qv_changelog}
  DEPENDS ${_qv_pkg}/debian/changelog
  VERBATIM)
add_custom_target(qv_changelog ALL DEPENDS ${_qv_changelog})
install(FILES ${_qv_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB
find_program(QV_DPKG dpkg)
if(QV_DPKG)
  execute_process(COMMAND ${QV_DPKG} --print-architecture
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvelan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Also the address of packaging/debian/changelog and copyright.
set(CPACK_PACKAGE_CONTACT "The quorvelan developers <quorvelan@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop monitor of a host's IPv4 traffic")
# CPack puts the summary first and indents this body itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "quorvelan shows every IPv4 datagram through one of the host's interfaces,
in both directions, as a row of its event list: time, addresses, ports,
service, payload text and TCP flags. Rows can be filtered by address and
port, inspected and exported to a text file.

Members of the quorvelan group capture without root: the program file
carries only the CAP_NET_RAW capability.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Shared-library versions come from dpkg-shlibdeps; what the program needs at
# run time without linking it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# qt6-translations-l10n: Qt's own texts (file dialogs, standard buttons) in Chinese.
# libloc-database and iso-codes: the database of where addresses are, and the
# country names in Chinese, read at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libqt6widgets6, qt6-qpa-plugins, libpcap0.8, libcap2, libcap2-bin, fonts-wqy-microhei, qt6-translations-l10n, libloc1, libloc-database, iso-codes")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${_qv_pkg}/debian/postinst ${_qv_pkg}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
