# Installs with DESTDIR under the configured prefix, then again under a prefix given at install
# time, and checks the program, its menu entry and its icons in both places.

function(check_installed root)
    foreach(file
            ${BINDIR}/dartflux
            ${DATADIR}/applications/dartflux.desktop
            ${DATADIR}/icons/hicolor/16x16/apps/dartflux.png
            ${DATADIR}/icons/hicolor/32x32/apps/dartflux.png
            ${DATADIR}/icons/hicolor/48x48/apps/dartflux.png
            ${DATADIR}/icons/hicolor/64x64/apps/dartflux.png
            ${DATADIR}/icons/hicolor/256x256/apps/dartflux.png)
        if(NOT EXISTS ${root}/${file})
            message(FATAL_ERROR "not installed: ${root}/${file}")
        endif()
    endforeach()

    set(entry ${root}/${DATADIR}/applications/dartflux.desktop)
    # Read whole: a line list would split at the semicolons that separate the categories.
    file(READ ${entry} content)
    string(PREPEND content "\n")
    foreach(line
            "[Desktop Entry]" "Type=Application" "Name=Dartflux" "Exec=dartflux %U" "Icon=dartflux"
            "Terminal=false" "Categories=Network;FileTransfer;")
        string(FIND "${content}" "\n${line}\n" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${entry} lacks the line '${line}'")
        endif()
    endforeach()
    if(NOT content MATCHES "\nComment=[^\n]")
        message(FATAL_ERROR "${entry} has no Comment")
    endif()

    if(NOT DESKTOP_FILE_VALIDATE)
        message(FATAL_ERROR "desktop-file-validate not found (package desktop-file-utils, "
                            "installed by scripts/install-deps)")
    endif()
    execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${entry}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0 OR NOT output STREQUAL "")
        message(FATAL_ERROR "desktop-file-validate ${entry}:\n${output}")
    endif()
endfunction()

function(install_build)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} ${ARGN}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "cmake --install ${ARGN} failed:\n${output}")
    endif()
endfunction()

file(REMOVE_RECURSE ${STAGE_DIR})

set(ENV{DESTDIR} ${STAGE_DIR}/destdir)
install_build()
check_installed(${STAGE_DIR}/destdir${PREFIX})
unset(ENV{DESTDIR})

install_build(--prefix ${STAGE_DIR}/prefix)
check_installed(${STAGE_DIR}/prefix)

file(REMOVE_RECURSE ${STAGE_DIR})
