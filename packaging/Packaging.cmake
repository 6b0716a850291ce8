# The Debian package: `cpack -G DEB` in a Release build gives kuvona_<version>_<arch>.deb with the
# Runtime component (the programs, desktop entry, icon, metadata, manual pages and documents).
set(CPACK_PACKAGE_NAME kuvona)
set(CPACK_PACKAGE_VENDOR "The Kuvona developers")
set(CPACK_PACKAGE_CONTACT "Kuvona developers <kuvona-dev@users.noreply.github.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "parcel tracking by courier and tracking number")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL Runtime)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/kuvona/kuvona")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl is opened when the first query runs, so the linker's list does not show it; the Chinese
# font and the toolkit's translations make the windows readable and speak the user's language.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-zenhei | fonts-noto-cjk, qt6-translations-l10n")
# CPack puts the summary above it as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kuvona follows parcels sent with 21 Chinese and international couriers
(ZTO, SF Express, EMS, DHL, FedEx and others). Type a tracking number,
tick the courier and press Enter: Kuvona asks an online tracking service
and lists the parcel's progress row by row.
.
The numbers queried are saved with their courier and a remark; they can be
edited, sorted, reordered by dragging, and backed up to a CSV file with the
kuvona-store command.")
# Without components in the file name: one package, named like any other.
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_MONOLITHIC_INSTALL OFF)

include(CPack)
