# Installed layout and the Debian package.

# The changelog is history and names the version too; it must agree with project().
file(STRINGS ${PROJECT_SOURCE_DIR}/res/debian/changelog vorn_changelog_top LIMIT_COUNT 1)
if(NOT vorn_changelog_top MATCHES "^vorndownload \\(${PROJECT_VERSION}\\)")
  message(FATAL_ERROR "res/debian/changelog does not start with version ${PROJECT_VERSION}")
endif()

# Two packages from one build: "cli" is the terminal program alone (no Qt, no
# fonts), "window" the Qt window with its desktop entry and icon.
if(TARGET vorndownload)
  install(FILES ${PROJECT_SOURCE_DIR}/res/vorndownload.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/res/vorndownload.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
endif()

# Manual pages get the version, then they and the package's own documents are
# compressed the way Debian ships them (gzip -9n: no name, no time stamp, so
# builds repeat exactly).
set(vorn_docs)
foreach(page vorndownload vorndownload-cli vorn-release)
  configure_file(${PROJECT_SOURCE_DIR}/res/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
endforeach()
foreach(doc ${PROJECT_BINARY_DIR}/man/vorndownload.1 ${PROJECT_BINARY_DIR}/man/vorndownload-cli.1
            ${PROJECT_BINARY_DIR}/man/vorn-release.1 ${PROJECT_SOURCE_DIR}/res/debian/changelog)
  get_filename_component(name ${doc} NAME)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/docs/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/docs
    COMMAND gzip -9nc ${doc} > ${PROJECT_BINARY_DIR}/docs/${name}.gz
    DEPENDS ${doc} VERBATIM)
  list(APPEND vorn_docs ${PROJECT_BINARY_DIR}/docs/${name}.gz)
endforeach()
add_custom_target(vorn_docs ALL DEPENDS ${vorn_docs})

# Each package carries its manual page and, as Debian wants, its own copy of
# the copyright and changelog under its own name.
set(vorn_components)
if(TARGET vorndownload-cli)
  list(APPEND vorn_components cli)
  # vorn-release comes with the terminal program, and its page with it.
  install(FILES ${PROJECT_BINARY_DIR}/docs/vorndownload-cli.1.gz ${PROJECT_BINARY_DIR}/docs/vorn-release.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
  install(FILES ${PROJECT_BINARY_DIR}/docs/changelog.gz ${PROJECT_SOURCE_DIR}/res/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorndownload-cli COMPONENT cli)
endif()
if(TARGET vorndownload)
  list(APPEND vorn_components window)
  install(FILES ${PROJECT_BINARY_DIR}/docs/vorndownload.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
  install(FILES ${PROJECT_BINARY_DIR}/docs/changelog.gz ${PROJECT_SOURCE_DIR}/res/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorndownload COMPONENT window)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${vorn_components})
set(CPACK_PACKAGE_NAME vorndownload)
set(CPACK_PACKAGE_VENDOR "Brevant Technology Limited")
set(CPACK_PACKAGE_CONTACT "Brevant Technology Limited <support@vorn.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Library dependencies come from each package's binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(vorn_job "Logs in to the publisher's FTP site with its public account, downloads the
newest KEL application and update archives and unpacks them into the VORN
Download folder of the user's home.")
set(CPACK_DEBIAN_CLI_PACKAGE_NAME vorndownload-cli)
set(CPACK_COMPONENT_CLI_DESCRIPTION "fetches and unpacks the newest KEL release in a terminal
${vorn_job}
This package holds the terminal program alone; it needs no display.")
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME vorndownload)
set(CPACK_COMPONENT_WINDOW_DESCRIPTION "fetches and unpacks the newest KEL release from the VORN FTP site
${vorn_job}
The window then starts the installer the application archive holds.")
# The platform plugins and the dialog font are loaded at run time, so they
# are named here.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wine")
include(CPack)
