# The Debian package (`cpack -G DEB` in the build folder): the application
# directory under /opt/ombrix, the systemd unit, and the maintainer scripts
# that create the service user `ombrix` and its places under /etc, /var/lib
# and /var/log.

set(OMBRIX_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")

# What only the package holds (`cmake --install` leaves it out): the unit,
# the places of settings, state and logs that Debian gives a service, and the
# documentation Debian expects of a package.
install(FILES "${OMBRIX_PACKAGING_DIR}/ombrix-server.service" DESTINATION /lib/systemd/system
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES "${OMBRIX_PACKAGING_DIR}/OmbrixPaths.cfg" DESTINATION . COMPONENT service EXCLUDE_FROM_ALL)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION .)

set(OMBRIX_DOC_DIR /usr/share/doc/ombrix-server)
set(OMBRIX_GZIP_DIR "${CMAKE_BINARY_DIR}/packaging")
# Compressed as Debian wants them: best ratio, no name or time stamp inside.
function(ombrix_gzip source output)
    add_custom_command(OUTPUT "${output}"
        COMMAND gzip -9nc "${source}" > "${output}"
        DEPENDS "${source}" VERBATIM)
endfunction()
ombrix_gzip("${OMBRIX_PACKAGING_DIR}/doc/changelog.Debian" "${OMBRIX_GZIP_DIR}/changelog.Debian.gz")
set(OMBRIX_GZIPPED "${OMBRIX_GZIP_DIR}/changelog.Debian.gz")
file(GLOB OMBRIX_MAN_PAGES "${OMBRIX_PACKAGING_DIR}/man/*.[18]")
foreach(page ${OMBRIX_MAN_PAGES})
    get_filename_component(name "${page}" NAME)
    string(REGEX REPLACE ".*\\." "" section "${name}")
    ombrix_gzip("${page}" "${OMBRIX_GZIP_DIR}/${name}.gz")
    list(APPEND OMBRIX_GZIPPED "${OMBRIX_GZIP_DIR}/${name}.gz")
    install(FILES "${OMBRIX_GZIP_DIR}/${name}.gz" DESTINATION /usr/share/man/man${section}
            COMPONENT service EXCLUDE_FROM_ALL)
endforeach()
add_custom_target(OmbrixPackageDocs ALL DEPENDS ${OMBRIX_GZIPPED})
install(FILES "${OMBRIX_PACKAGING_DIR}/doc/copyright" "${OMBRIX_GZIP_DIR}/changelog.Debian.gz"
        DESTINATION ${OMBRIX_DOC_DIR} COMPONENT service EXCLUDE_FROM_ALL)
install(FILES "${OMBRIX_PACKAGING_DIR}/doc/OmbrixServer.cfg" DESTINATION ${OMBRIX_DOC_DIR}/examples
        COMPONENT service EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ombrix-server)
set(CPACK_PACKAGE_VENDOR Tovik)
set(CPACK_PACKAGE_CONTACT "Tovik <soporte@ombrix.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Ombrix Server: application server of the Ombrix business clients")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/ombrix)
set(CPACK_STRIP_FILES ON)
# One package with the application directory and the unit.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified service)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The libraries the programs link, found by dpkg-shlibdeps; then what they
# load at run time: the MySQL driver, the offscreen platform and the fonts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${OMBRIX_APP_DIR}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-mysql, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mariadb-server")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${OMBRIX_PACKAGING_DIR}/postinst;${OMBRIX_PACKAGING_DIR}/prerm;${OMBRIX_PACKAGING_DIR}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
