# Debian packages from CPack, one per install component:
#   libquarn32-6    the shared library (its SONAME is libquarn32.so.6)
#   libquarn32-dev  header, CMake package, quarn32.pc, the .so link, quarn32(3)
#   tslcat          the window, tslcat-cli, desktop entry, icon, metainfo,
#                   help page, man pages and bash completion
# `cmake --build --preset release --target package` writes them into the
# build folder; scripts/package.sh builds and checks them.

set(QUARN_DEB_REVISION 1)
set(QUARN_MAINTAINER "The QUARN32 and tslcat developers <maintainers@quarn32.example.org>")

# Every package carries its copyright file and changelog where Debian
# policy wants them: /usr/share/doc/<package>/.
set(QUARN_DEB_PACKAGES quarn32_runtime libquarn32-6 quarn32_dev libquarn32-dev)
if(TARGET tslcat)
    list(APPEND QUARN_DEB_PACKAGES tslcat tslcat)
endif()
# The build day (or SOURCE_DATE_EPOCH, which string(TIMESTAMP) honours).
string(TIMESTAMP QUARN_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
set(QUARN_DEB_VERSION ${PROJECT_VERSION}-${QUARN_DEB_REVISION})
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in
    ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
quarn_gzip_file(${PROJECT_BINARY_DIR}/packaging/changelog.Debian
    ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
while(QUARN_DEB_PACKAGES)
    list(POP_FRONT QUARN_DEB_PACKAGES component package)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
        ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
        COMPONENT ${component})
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarn32)
set(CPACK_PACKAGE_VENDOR "The QUARN32 and tslcat developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUARN_MAINTAINER})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL quarn32_runtime quarn32_dev)
if(TARGET tslcat)
    list(APPEND CPACK_COMPONENTS_ALL tslcat)
endif()

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUARN_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE quarn32)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUARN_DEB_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies on system libraries come from dpkg-shlibdeps; the ones
# between our own packages from the component graph below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/library)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_QUARN32_RUNTIME_PACKAGE_NAME libquarn32-${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_QUARN32_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file, so programs built against the library depend on it, and
# the ldconfig trigger that a package shipping a shared library needs.  The
# setting is global; only the runtime package holds a shared object.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg's ldconfig trigger instead of the ldconfig calls CPack would write
# into postinst and postrm (policy since Debian 9; lintian insists).
configure_file(${PROJECT_SOURCE_DIR}/packaging/libquarn32.triggers
    ${PROJECT_BINARY_DIR}/packaging/runtime/triggers COPYONLY)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/runtime/postinst "#!/bin/sh\nset -e\n")
file(WRITE ${PROJECT_BINARY_DIR}/packaging/runtime/postrm "#!/bin/sh\nset -e\n")
file(CHMOD ${PROJECT_BINARY_DIR}/packaging/runtime/postinst ${PROJECT_BINARY_DIR}/packaging/runtime/postrm
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_QUARN32_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/packaging/runtime/triggers
    ${PROJECT_BINARY_DIR}/packaging/runtime/postinst
    ${PROJECT_BINARY_DIR}/packaging/runtime/postrm)
set(CPACK_DEBIAN_QUARN32_DEV_PACKAGE_NAME libquarn32-dev)
set(CPACK_DEBIAN_QUARN32_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TSLCAT_PACKAGE_NAME tslcat)
set(CPACK_DEBIAN_TSLCAT_PACKAGE_SECTION utils)

# Synopsis line, then the long description; no project-wide summary, which
# CPack would put before each package's own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEBIAN_QUARN32_RUNTIME_DESCRIPTION "line matching library (regex, approximate, Soundex)
QUARN32 matches single lines of 8-bit text against compiled patterns: a
small grep-style regular-expression dialect, approximate patterns that
allow a bounded number of wrong characters, and Soundex. It also offers
substitution templates, boolean chains of patterns and line-by-line file
search, through a flat C interface.
.
This package holds the shared library.")
set(CPACK_DEBIAN_QUARN32_DEV_DESCRIPTION "line matching library (regex, approximate, Soundex) - development
QUARN32 matches single lines of 8-bit text against compiled patterns: a
small grep-style regular-expression dialect, approximate patterns that
allow a bounded number of wrong characters, and Soundex.
.
This package holds the C header, the link to the shared library, the CMake
package, the pkg-config file and the quarn32(3) manual page.")
set(CPACK_DEBIAN_TSLCAT_DESCRIPTION "catalog of CDs and DVDs, searchable without the disc
tslcat scans the tree of a CD-ROM, DVD or any folder into one catalog file
and then searches the names of files, folders and discs with a regular
expression while no disc is present. A found file, its folder or an
editor is opened after asking for the disc by name.
.
The package holds the window (tslcat) and the command-line tool
(tslcat-cli), which work on the same catalog file.")

include(CPack)

cpack_add_component(quarn32_runtime DISPLAY_NAME "QUARN32 library")
cpack_add_component(quarn32_dev DISPLAY_NAME "QUARN32 development files" DEPENDS quarn32_runtime)
if(TARGET tslcat)
    cpack_add_component(tslcat DISPLAY_NAME "tslcat" DEPENDS quarn32_runtime)
endif()
