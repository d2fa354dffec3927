# Debian packages, one per install component:
#   lumo-share          the command-line tool, Info.json, catalogues, the drain's user units
#   lumo-share-desktop  the share panel and the host window with their desktop integration
#   lumo-share-server   the reference service and its system unit
# `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr (the `package` preset).
# Library dependencies come from dpkg-shlibdeps; only programs that are run and libraries that
# are loaded at run time (dlopen), not linked, are named here.

set(LUMO_PACKAGE_MAINTAINER "LumoShare maintainers <maintainers@lumoshare.app>" CACHE STRING
  "Maintainer field of the Debian packages")
set(LUMO_PACKAGES lumo-share lumo-share-desktop lumo-share-server)

# Every file belongs to one of the packages: a rule without a component would be left out
# silently.
get_cmake_property(lumoComponents COMPONENTS)
foreach(component IN LISTS lumoComponents)
  if(NOT component IN_LIST LUMO_PACKAGES)
    message(FATAL_ERROR
      "An install() rule has the component '${component}': name one of ${LUMO_PACKAGES}")
  endif()
endforeach()

# Debian wants each package's copyright and changelog in /usr/share/doc/<package>; the changelog
# compressed without a timestamp (gzip -n), dated by SOURCE_DATE_EPOCH when it is set.
string(TIMESTAMP LUMO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
  ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND gzip -9nc ${changelog} > ${changelog}.gz
  DEPENDS ${changelog})
add_custom_target(lumo_package_changelog ALL DEPENDS ${changelog}.gz)
foreach(package IN LISTS LUMO_PACKAGES)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${changelog}.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumo-share)
set(CPACK_PACKAGE_VENDOR "LumoShare")
set(CPACK_PACKAGE_CONTACT "${LUMO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${LUMO_PACKAGES})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Directories as Debian has them (0755), whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The Thumbnailer loads libavformat and libavutil by the SONAMEs of the versions built against;
# Debian names their packages after those SONAMEs.
string(REGEX MATCH "^[0-9]+" avformatMajor "${AVFORMAT_libavformat_VERSION}")
string(REGEX MATCH "^[0-9]+" avutilMajor "${AVFORMAT_libavutil_VERSION}")
if(NOT avformatMajor OR NOT avutilMajor)
  message(FATAL_ERROR "pkg-config gave no versions of libavformat and libavutil")
endif()
set(LUMO_MEDIA_PACKAGES "libavformat${avformatMajor}, libavutil${avutilMajor}")

set(CPACK_DEBIAN_LUMO-SHARE_PACKAGE_NAME lumo-share)
# The archiver runs the system's zip (ShareArchive::defaultToolPath).
set(CPACK_DEBIAN_LUMO-SHARE_PACKAGE_DEPENDS "zip, ${LUMO_MEDIA_PACKAGES}")
# A description: its synopsis, then lines CPack indents by one space (at most 80 columns then).
set(CPACK_COMPONENT_LUMO-SHARE_DESCRIPTION "publish files, folders, texts and links behind short links
lumo-share stages what you share from a terminal safely on disk, publishes it
to a LumoShare service with a title, note, retention, password, slug, download
limit and watermark, and prints the short link with a QR code. What cannot be
sent yet stays in a crash-safe queue that a systemd user timer retries.")

set(CPACK_DEBIAN_LUMO-SHARE-DESKTOP_PACKAGE_NAME lumo-share-desktop)
set(CPACK_DEBIAN_LUMO-SHARE-DESKTOP_PACKAGE_DEPENDS
  "lumo-share (= ${PROJECT_VERSION}), ${LUMO_MEDIA_PACKAGES}")
set(CPACK_COMPONENT_LUMO-SHARE-DESKTOP_DESCRIPTION "LumoShare share panel and host window for the desktop
lumo-share-panel is the window that file managers open with 'Share with Lumo':
it reads the shared files, folders, texts and links, shows the compose form,
publishes and shows the short link with its QR code. lumo-share-app lists the
queued shares, the recent uploads and the sign-in. With desktop entries, a KDE
service menu and a Nautilus script.")

set(CPACK_DEBIAN_LUMO-SHARE-SERVER_PACKAGE_NAME lumo-share-server)
set(CPACK_COMPONENT_LUMO-SHARE-SERVER_DESCRIPTION "reference LumoShare service
lumo-share-server answers the LumoShare service API (publishing, accounts,
plans, claim binding, device pairing) with SQLite and a folder of documents,
and serves the public share pages. The system unit lumo-share-server.service
runs it on loopback under a dynamic user with its data in
/var/lib/lumo-share-server.")

include(CPack)
