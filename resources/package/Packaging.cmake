# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package:  cmake --build build --target package
# Everything under /usr: the three programs in bin, the capture helper in
# lib/fenwa-workbench (root:fenwa 0750 with cap_net_raw, set by postinst),
# the language files, desktop entry, icons, man pages, bash completion and
# the copyright file under share.
set(FENWA_PACKAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/fenwa-workbench)

install(TARGETS fenwa-cli fenwa-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${FENWA_PACKAGE_DIR}/fenwa-workbench.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${FENWA_PACKAGE_DIR}/fenwa-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME fenwa-cli)
install(FILES ${FENWA_PACKAGE_DIR}/copyright DESTINATION ${doc_dir})

# Debian wants man pages and the changelog compressed, reproducibly.
set(compressed "")
foreach(source docs/man/fenwa-workbench.1 docs/man/fenwa-cli.1 docs/man/fenwa-sim.1 resources/package/changelog)
  get_filename_component(name ${source} NAME)
  if(name STREQUAL "changelog")
    set(name changelog.Debian)
  endif()
  set(out ${CMAKE_BINARY_DIR}/package/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/${source} > ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source})
  list(APPEND compressed ${out})
endforeach()
add_custom_target(fenwa-package-docs ALL DEPENDS ${compressed})
list(POP_BACK compressed changelog)
install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog} DESTINATION ${doc_dir})

# Maintainer scripts know the helper's installed path and its group.
set(FENWA_HELPER ${CMAKE_INSTALL_PREFIX}/${FENWA_HELPER_INSTALL_DIR}/fenwa-capture)
set(FENWA_GROUP fenwa)
foreach(script postinst postrm)
  configure_file(${FENWA_PACKAGE_DIR}/${script}.in ${CMAKE_BINARY_DIR}/package/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(WARNING "The package installs under /usr, but the programs are built for ${CMAKE_INSTALL_PREFIX}")
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fenwa-workbench)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Fenwa Workbench developers <fenwa-workbench@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and configure networked audio terminals")
set(CPACK_PACKAGE_DESCRIPTION "Fenwa Workbench finds every networked audio terminal (SIP endpoint with
microphone and loudspeaker) on the Ethernet segment, shows and changes its
settings one by one or in batches, and streams test audio to an RTP
multicast group. Terminals are reached below IP, so they answer whatever
their IP configuration.
.
The package holds the workbench, the command-line front end fenwa-cli and
the terminal simulator fenwa-sim. Packet capture goes through a small
helper that only members of the group fenwa may run.")
# The libraries the programs link (libcsv3, libxlsxwriter4 and libminizip1
# for site plans and workbooks among them) come in through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
# Qt's own texts (file dialogs, standard buttons) in Chinese too; the
# handover report's PDF embeds Latin text in DejaVu Sans, Chinese in Noto
# Sans CJK.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qttranslations5-l10n, fonts-dejavu-core, fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/package/postinst ${CMAKE_BINARY_DIR}/package/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
