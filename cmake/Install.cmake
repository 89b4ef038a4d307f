# Installing kavo: the programs, the defaults the program folder is filled from, the desktop entry,
# icons, AppStream metadata and manual pages. The Debian package (debian/, make deb) installs the same.
#
# The layout below the prefix is fixed (bin/, share/kavo/): kavo finds its data as ../share/kavo
# from its own executable, so any prefix works and an installed tree can be moved.

# One application id for the desktop entry, the icon, the metadata and the running program.
set(KAVO_APP_ID "io.github.kavo.Kavo")
# Goes with PROJECT_VERSION: the release entry of the metadata and the date of the manual pages.
set(KAVO_RELEASE_DATE "2026-12-10")
set(KAVO_HOMEPAGE "https://github.com/kavo/kavo" CACHE STRING "The project's web address, for the metadata")

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

# Notes the folders the install is about to create, for make uninstall (see InstallFolders.cmake).
set(kavo_folders bin lib/kavo share/kavo share/doc/kavo share/applications share/metainfo share/icons/hicolor/scalable/apps
    share/man/man1)
foreach(size 16 32 48 64 128 256)
    list(APPEND kavo_folders share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(CODE "set(KAVO_FOLDERS \"${kavo_folders}\")\ninclude(\"${CMAKE_CURRENT_LIST_DIR}/InstallFolders.cmake\")")

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
            -DFOLDERS=${PROJECT_BINARY_DIR}/install_folders.txt -P ${CMAKE_CURRENT_LIST_DIR}/Uninstall.cmake
    VERBATIM)
