# Installs the build into PREFIX and checks that the desktop files are where the desktop looks.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file
        bin/morv3dViewer
        bin/morv3d
        share/thumbnailers/morv3d.thumbnailer
        share/applications/morv3dViewer.desktop
        share/mime/packages/morv3dViewer.xml
        share/icons/hicolor/16x16/apps/morv3dViewer.png
        share/icons/hicolor/32x32/apps/morv3dViewer.png
        share/icons/hicolor/16x16/mimetypes/application-x-morv3d.png
        share/icons/hicolor/32x32/mimetypes/application-x-morv3d.png)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
file(READ ${PREFIX}/share/applications/morv3dViewer.desktop desktop)
foreach(line "Exec=morv3dViewer %f" "Icon=morv3dViewer" "MimeType=application/x-morv3d;")
    string(FIND "${desktop}" "${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "desktop entry lacks ${line}")
    endif()
endforeach()
# Where shared-mime-info is present, the install has compiled the type into the database.
find_program(update_mime update-mime-database)
if(update_mime)
    file(READ ${PREFIX}/share/mime/globs2 globs)
    string(FIND "${globs}" "application/x-morv3d:*.morv3d" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the MIME database does not know *.morv3d")
    endif()
    # The magic file is binary: compare in hexadecimal.
    file(READ ${PREFIX}/share/mime/magic magic HEX)
    string(HEX "application/x-morv3d" name)
    string(FIND "${magic}" "${name}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the MIME database has no magic for application/x-morv3d")
    endif()
endif()

# The thumbnailer's command, as a file manager fills it in, makes a picture without a display.
file(STRINGS ${PREFIX}/share/thumbnailers/morv3d.thumbnailer exec REGEX "^Exec=")
string(REGEX REPLACE "^Exec=morv3d " "${PREFIX}/bin/morv3d " exec "${exec}")
string(REPLACE "%i" "${SAMPLE}" exec "${exec}")
string(REPLACE "%o" "${PREFIX}/thumbnail.png" exec "${exec}")
string(REPLACE "%s" "128" exec "${exec}")
separate_arguments(exec UNIX_COMMAND "${exec}")
execute_process(COMMAND ${exec} RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS ${PREFIX}/thumbnail.png)
    message(FATAL_ERROR "the thumbnailer's command failed: ${result}")
endif()
# The installed program carries its English translation (embedded: nothing else is installed).
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                        ${PREFIX}/bin/morv3dViewer --lang en --screenshot ${PREFIX}/none.png
                        ${PREFIX}/missing.morv3d
                RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 1 OR NOT err MATCHES "cannot be opened")
    message(FATAL_ERROR "the installed viewer does not speak English (${result}):\n${err}")
endif()
file(REMOVE_RECURSE ${PREFIX})
