# Where the installed files go, and the Debian package `cpack -G DEB` builds from them.
include(GNUInstallDirs)
set(CORVEL_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)

install(FILES ${CORVEL_PACKAGING}/studio.corvel.encoder.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CORVEL_PACKAGING}/studio.corvel.encoder.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${CORVEL_PACKAGING}/studio.corvel.encoder.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CORVEL_PACKAGING}/studio.corvel.encoder.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${CORVEL_PACKAGING}/icons/studio.corvel.encoder-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME studio.corvel.encoder.png)
endforeach()
# Debian keeps manual pages and the changelog compressed, without a time stamp (gzip -n), so
# the same sources make the same package.
find_program(CORVEL_GZIP gzip REQUIRED)
set(CORVEL_COMPRESSED)
foreach(source corvel-encode.1 corvel-encoder.1 changelog)
    set(zipped ${CMAKE_BINARY_DIR}/packaging/${source}.gz)
    add_custom_command(OUTPUT ${zipped}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND ${CORVEL_GZIP} -9nc ${CORVEL_PACKAGING}/${source} > ${zipped}
        DEPENDS ${CORVEL_PACKAGING}/${source} VERBATIM)
    list(APPEND CORVEL_COMPRESSED ${zipped})
endforeach()
add_custom_target(corvel-compressed-docs ALL DEPENDS ${CORVEL_COMPRESSED})
install(FILES ${CMAKE_BINARY_DIR}/packaging/corvel-encode.1.gz
              ${CMAKE_BINARY_DIR}/packaging/corvel-encoder.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CORVEL_PACKAGING}/corvel-encode.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME corvel-encode)
install(FILES ${CORVEL_PACKAGING}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvel-encoder)

# The package needs no scripts of its own: shared-mime-info, desktop-file-utils and the icon
# cache watch these folders through dpkg triggers. A plain `cmake --install` has no such help.
install(CODE [[
    if(NOT DEFINED ENV{DESTDIR} AND NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
        message(STATUS "To refresh the desktop's file types and icons, run: "
            "update-mime-database ${CMAKE_INSTALL_PREFIX}/share/mime; "
            "update-desktop-database ${CMAKE_INSTALL_PREFIX}/share/applications; "
            "gtk-update-icon-cache -f ${CMAKE_INSTALL_PREFIX}/share/icons/hicolor")
    endif()
]])

set(CPACK_PACKAGE_NAME corvel-encoder)
set(CPACK_PACKAGE_VENDOR "Corvel Studio")
set(CPACK_PACKAGE_CONTACT "Corvel Studio <encoder@corvel.studio>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "video transcoding queue for ProRes, H.264 and HEVC")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvel Encoder turns movies, folders and job files into a queue of encodes,\neach with its codec, size, frame rate, audio, bitrate, name pattern and\noutput folder. corvel-encode does the same without a window, for servers\nand scripts.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvel.studio/encoder")
# Directories and files owned by root with the usual modes, as lintian expects.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
