# Installing kavo: the programs, the defaults the program folder is filled from, the desktop entry,
# icons, AppStream metadata and manual pages; `make deb` packs the same files with CPack.
#
# The layout below the prefix is fixed (bin/, share/kavo/): kavo finds its data as ../share/kavo
# from its own executable, so any prefix works and an installed tree can be moved.

# One application id for the desktop entry, the icon, the metadata and the running program.
set(KAVO_APP_ID "io.github.kavo.Kavo")
# Goes with PROJECT_VERSION: the release entry of the metadata and the date of the manual pages.
set(KAVO_RELEASE_DATE "2026-12-10")
set(KAVO_HOMEPAGE "https://kavo.example" CACHE STRING "The project's web address, for the metadata and the package")
set(KAVO_PACKAGE_CONTACT "kavo developers" CACHE STRING "The maintainer named in the Debian package")

target_compile_definitions(kavo PRIVATE KAVO_APP_ID="${KAVO_APP_ID}")

set(kavo_generated ${PROJECT_BINARY_DIR}/install)
set(kavo_data ${PROJECT_SOURCE_DIR}/data)

configure_file(${kavo_data}/desktop/kavo.desktop.in ${kavo_generated}/${KAVO_APP_ID}.desktop @ONLY)
configure_file(${kavo_data}/desktop/kavo.metainfo.xml.in ${kavo_generated}/${KAVO_APP_ID}.metainfo.xml @ONLY)

# Manual pages are installed compressed, as Debian wants them; gzip -n keeps the output the same
# from one build to the next.
set(kavo_man_pages)
foreach(page kavo kavo-list)
    configure_file(${PROJECT_SOURCE_DIR}/man/${page}.1.in ${kavo_generated}/${page}.1 @ONLY)
    add_custom_command(OUTPUT ${kavo_generated}/${page}.1.gz
        COMMAND gzip -9nkf ${kavo_generated}/${page}.1
        DEPENDS ${kavo_generated}/${page}.1
        COMMENT "Compressing the manual page ${page}.1" VERBATIM)
    list(APPEND kavo_man_pages ${kavo_generated}/${page}.1.gz)
endforeach()
add_custom_target(kavo_man ALL DEPENDS ${kavo_man_pages})

install(TARGETS kavo kavo-list RUNTIME DESTINATION bin)
# kavo loads its browser from ../lib/kavo/ when the YP-style page is first shown.
install(TARGETS kavo_webview LIBRARY DESTINATION lib/kavo)
# Every user script runs in a process of this helper, found as ../lib/kavo/kavo-script.
install(TARGETS kavo-script RUNTIME DESTINATION lib/kavo)
install(DIRECTORY ${kavo_data}/templates ${kavo_data}/icons DESTINATION share/kavo)
# For editors that check a rules file against its schema.
install(FILES ${kavo_data}/schema/kavo-rules.schema.json DESTINATION share/kavo/schema)
install(FILES ${PROJECT_SOURCE_DIR}/docs/rules-file.md DESTINATION share/doc/kavo)
install(FILES ${kavo_generated}/${KAVO_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${kavo_generated}/${KAVO_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${kavo_data}/icons-src/Main2.svg DESTINATION share/icons/hicolor/scalable/apps
        RENAME ${KAVO_APP_ID}.svg)
foreach(size 16 32 48 64 128 256)
    install(FILES ${kavo_data}/hicolor/${size}x${size}/kavo.png DESTINATION share/icons/hicolor/${size}x${size}/apps
            RENAME ${KAVO_APP_ID}.png)
endforeach()
install(FILES ${kavo_man_pages} DESTINATION share/man/man1)

# Removes what the last `cmake --install` of this build folder wrote (install_manifest.txt).
add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
            -P ${CMAKE_CURRENT_LIST_DIR}/Uninstall.cmake
    VERBATIM)

# The Debian package. Library dependencies come from dpkg-shlibdeps; the rest are what kavo opens
# at run time: libcurl and libcanberra (loaded on first use), the Japanese fonts and the speech
# plug-in. No maintainer scripts: dpkg's triggers refresh the icon cache and the menus.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavo)
set(CPACK_PACKAGE_VENDOR "kavo developers")
set(CPACK_PACKAGE_CONTACT "${KAVO_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browser for the channels of PeerCast YPs")
set(CPACK_PACKAGE_DESCRIPTION [[
kavo keeps a list of YPs, the channel directories of the PeerCast streaming
network, downloads their channel lists every few minutes or when asked, and
shows every channel on air in one list: what is new, what moved up or down,
what changed and what ended. Favorites get their own colours and sounds; new
channels are announced with balloons, sounds and speech.

kavo-list prints the same lists on the command line. The user interface is
Japanese.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KAVO_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4, libcanberra0, fonts-noto-cjk, qt6-speech-speechd-plugin, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates, xdg-utils, qt6-wayland")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
include(CPack)
