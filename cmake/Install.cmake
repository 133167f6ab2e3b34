# Install rules for the program icon and the desktop entry (freedesktop.org
# systems). The rules for the executable and the audio module are next to their
# targets. Included at the end of the top-level CMakeLists.txt.

set(MARLET_ICON_DIR ${PROJECT_SOURCE_DIR}/src/forms/icons)
set(MARLET_DESKTOP_ENTRY ${PROJECT_SOURCE_DIR}/data/marlet.desktop)

if(UNIX AND NOT APPLE)
    # Icon theme: <datadir>/icons/hicolor/<N>x<N>/apps/marlet.png and scalable/apps/marlet.svg.
    # The PNGs are rendered from marlet.svg by scripts/render_icon.sh.
    foreach(size IN ITEMS 16 32 48 64 128 256)
        install(FILES ${MARLET_ICON_DIR}/marlet-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME marlet.png)
    endforeach()
    install(FILES ${MARLET_ICON_DIR}/marlet.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

    # Desktop entry (its Icon=marlet names the theme icon above).
    install(FILES ${MARLET_DESKTOP_ENTRY}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# Check the desktop entry with desktop-file-validate (desktop-file-utils), when present.
if(MARLET_BUILD_TESTS)
    find_program(MARLET_DESKTOP_FILE_VALIDATE desktop-file-validate)
    if(MARLET_DESKTOP_FILE_VALIDATE)
        add_test(NAME desktop_entry_valid
            COMMAND ${MARLET_DESKTOP_FILE_VALIDATE} ${MARLET_DESKTOP_ENTRY})
    else()
        message(STATUS "desktop-file-validate not found: the desktop entry is not checked")
    endif()
endif()
