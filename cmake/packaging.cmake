# Debian packages from the install components (cpack in a build tree, best the
# linux-package preset's): liborkv14-N (the library), liborkv14-dev (headers,
# the soname link, orkv14.pc, the CMake package) and kvmail (with its manual
# page). Each carries the copyright and changelog that Debian policy asks for.
set(KV_DEB_RUNTIME liborkv14-${KV_SOVERSION})
set(KV_DEB_MAINTAINER "orkv14 developers <orkv14@users.noreply.example.org>")

configure_file(cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/debian/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
add_custom_target(kv_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
foreach(pair "runtime;${KV_DEB_RUNTIME}" "dev;liborkv14-dev" "kvmail;kvmail")
  list(GET pair 0 component)
  list(GET pair 1 package)
  # Only in the packages: a plain cmake --install leaves /usr/share/doc alone.
  install(FILES cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orkv14)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KV_DEB_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev kvmail)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# kvmail needs the library of its sibling package: dpkg-shlibdeps finds it in
# the build tree and leaves the dependency to the component's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${KV_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# shlibs lets dpkg-shlibdeps of hosts find the package; the trigger runs
# ldconfig (cpack's own postinst calls it too, which lintian only warns about).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "in-process mail component with a COM interface\n\
orkv14 composes, sends and receives e-mail for its host through one\n\
connection interface: SMTP and POP3 (with TLS, OAuth 2.0 and SOCKS proxies),\n\
RFC 822/MIME writing and reading. This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liborkv14-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION "in-process mail component with a COM interface (development files)\n\
The public headers (orkv14.h, kvcom.h and the C++ helpers orkv14.hpp),\n\
orkv14.pc for pkg-config and the CMake package (find_package(orkv14)).")

set(CPACK_DEBIAN_KVMAIL_PACKAGE_NAME kvmail)
set(CPACK_DEBIAN_KVMAIL_PACKAGE_SECTION mail)
set(CPACK_COMPONENT_KVMAIL_DEPENDS runtime)
set(CPACK_COMPONENT_KVMAIL_DESCRIPTION "command-line mail host of the orkv14 component\n\
kvmail composes and sends mail over SMTP, lists, fetches and deletes the\n\
mails of a POP3 mailbox and shows the structure of message files.")

include(CPack)
