# The Debian package (`cpack -G DEB` in the build folder): the application
# directory under /opt/ombrix, the systemd unit, and the maintainer scripts
# that create the service user `ombrix`.

set(OMBRIX_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")

# Outside the application directory, so only the package holds it:
# `cmake --install` leaves it out.
install(FILES "${OMBRIX_PACKAGING_DIR}/ombrix-server.service" DESTINATION /lib/systemd/system
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION .)

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
