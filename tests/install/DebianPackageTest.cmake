# Runs cpack -G DEB on the build, then reads the package back with dpkg-deb: the program, its
# menu entry and icon under /usr, and a Depends line that names the libraries it links.

file(REMOVE_RECURSE ${PACKAGE_DIR})
execute_process(COMMAND cpack -G DEB -B ${PACKAGE_DIR} WORKING_DIRECTORY ${BUILD_DIR}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB package ${PACKAGE_DIR}/*.deb)
if(NOT result EQUAL 0 OR NOT package)
    message(FATAL_ERROR "cpack -G DEB failed:\n${output}")
endif()

execute_process(COMMAND dpkg-deb -c ${package} OUTPUT_VARIABLE files RESULT_VARIABLE result)
foreach(file ./usr/bin/dartflux ./usr/share/applications/dartflux.desktop
             ./usr/share/icons/hicolor/48x48/apps/dartflux.png)
    string(FIND "${files}" " ${file}\n" at)
    if(NOT result EQUAL 0 OR at EQUAL -1)
        message(FATAL_ERROR "${package} lacks ${file}:\n${files}")
    endif()
endforeach()

execute_process(COMMAND dpkg-deb -f ${package} Package Depends Recommends OUTPUT_VARIABLE fields)
foreach(expected "Package: dartflux" "libqt6widgets6" "libqt6dbus6" "libcurl4" "qt6-qpa-plugins"
         "Recommends: xdg-utils")
    string(FIND "${fields}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${package}: no ${expected} in\n${fields}")
    endif()
endforeach()
file(REMOVE_RECURSE ${PACKAGE_DIR})
