# Installing and packaging: the program, the files it ships, and what the
# desktop reads about it (entry, icons, metainfo, man page). Included from the
# top-level CMakeLists.txt, so that `package` is a target of the whole build.

include(GNUInstallDirs)
set(VISTREL_APP_ID io.github.vistrel.Vistrel)
# The icon theme's common sizes, each drawn from the scalable icon.
set(VISTREL_ICON_SIZES 16 24 32 48 64 128 256)
set(DIST_OUT ${CMAKE_BINARY_DIR}/dist)

configure_file(${CMAKE_SOURCE_DIR}/dist/${VISTREL_APP_ID}.metainfo.xml.in ${DIST_OUT}/${VISTREL_APP_ID}.metainfo.xml @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/dist/vistrel.1.in ${DIST_OUT}/vistrel.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/dist/changelog.in ${DIST_OUT}/changelog @ONLY)

# The machine-readable copyright file, its licence text taken from LICENSE (each line
# indented by one space, an empty line written as " .", as the format asks).
file(READ ${CMAKE_SOURCE_DIR}/LICENSE VISTREL_LICENSE)
string(REGEX REPLACE "^MIT License\n\n" "" VISTREL_LICENSE "${VISTREL_LICENSE}")
string(REGEX REPLACE "\n$" "" VISTREL_LICENSE "${VISTREL_LICENSE}")
string(REPLACE "\n\n" "\n.\n" VISTREL_LICENSE "${VISTREL_LICENSE}")
string(REPLACE "\n" "\n " VISTREL_LICENSE " ${VISTREL_LICENSE}")
file(WRITE ${DIST_OUT}/copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Vistrel
Upstream-Contact: The Vistrel developers <vistrel@users.noreply.github.com>

Files: *
Copyright: 2026 The Vistrel developers
License: MIT

License: MIT
${VISTREL_LICENSE}
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)

find_package(Qt6 REQUIRED COMPONENTS Svg)
add_executable(make_icons tools/make_icons.cpp)
target_link_libraries(make_icons PRIVATE Qt6::Gui Qt6::Svg)
set(VISTREL_ICONS)
foreach(size ${VISTREL_ICON_SIZES})
  list(APPEND VISTREL_ICONS ${DIST_OUT}/icons/${size}x${size}/apps/${VISTREL_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${VISTREL_ICONS}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:make_icons>
          ${CMAKE_SOURCE_DIR}/assets/vistrel.svg ${DIST_OUT}/icons ${VISTREL_APP_ID} ${VISTREL_ICON_SIZES}
  DEPENDS make_icons ${CMAKE_SOURCE_DIR}/assets/vistrel.svg COMMENT "Drawing the application icon at its sizes")
add_custom_target(desktop_icons ALL DEPENDS ${VISTREL_ICONS})

# Manual pages are installed compressed, without a time stamp, as Debian's are.
add_custom_command(OUTPUT ${DIST_OUT}/vistrel.1.gz
  COMMAND gzip -9nc ${DIST_OUT}/vistrel.1 > ${DIST_OUT}/vistrel.1.gz
  DEPENDS ${DIST_OUT}/vistrel.1 COMMENT "Compressing the manual page")
add_custom_target(manual_page ALL DEPENDS ${DIST_OUT}/vistrel.1.gz)
# Debian's changelog of a native package, compressed the same way.
add_custom_command(OUTPUT ${DIST_OUT}/changelog.gz
  COMMAND gzip -9nc ${DIST_OUT}/changelog > ${DIST_OUT}/changelog.gz
  DEPENDS ${DIST_OUT}/changelog COMMENT "Compressing the changelog")
add_custom_target(package_changelog ALL DEPENDS ${DIST_OUT}/changelog.gz)

# The program looks for its shipped files in ../share/vistrel beside its bin folder, and
# for its decoder, a private helper no one runs by hand, in ../lib/vistrel.
install(TARGETS vistrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Relocations resolved and made read-only at start, as Debian's hardened builds do; the
# decoder then has no lazy binding left to do once it is confined.
foreach(shipped vistrel vistrel-decoder)
  target_link_options(${shipped} PRIVATE LINKER:-z,relro,-z,now)
endforeach()
install(TARGETS vistrel-decoder RUNTIME DESTINATION lib/vistrel)
# The decoder's reader modules, beside it.
foreach(library ${READER_LIBRARIES})
  target_link_options(vistrel-reader-${library} PRIVATE LINKER:-z,relro,-z,now)
  install(TARGETS vistrel-reader-${library} LIBRARY DESTINATION lib/vistrel)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/30861.jpg ${CMAKE_BINARY_DIR}/ScopeReadme.txt DESTINATION share/vistrel)
install(FILES ${CMAKE_SOURCE_DIR}/dist/${VISTREL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${DIST_OUT}/${VISTREL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${DIST_OUT}/vistrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(DIRECTORY ${DIST_OUT}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${CMAKE_SOURCE_DIR}/assets/vistrel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${VISTREL_APP_ID}.svg)
install(FILES ${DIST_OUT}/copyright ${DIST_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vistrel)

# A Debian package of the installed tree. dpkg-shlibdeps finds the libraries the
# program links; the image-format plugins for TIFF and WebP are loaded at run
# time, where it cannot see them, so they are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VENDOR "The Vistrel developers")
set(CPACK_PACKAGE_CONTACT "The Vistrel developers <vistrel@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "line scope, vectorscope and histogram for still pictures")
set(CPACK_PACKAGE_DESCRIPTION "Vistrel judges the exposure and colour of a still picture the way a video
engineer judges a picture signal: three instruments, a line scope (waveform
monitor, RGB+Y parade), a vectorscope and a histogram, computed from every pixel
of GIF, BMP, JPEG, PNG, TIFF, WebP, HEIC, AVIF, JPEG XL, icon and Windows metafile
pictures; a picture tagged with another colour space is converted to sRGB or
read as stored. A probe reads single pixels; vistrel --render writes the three
instruments as PNG images and vistrel --stats prints each picture's numbers as
JSON, for scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(CPack)

add_test(NAME Install.DesktopFilesValidateAndTheProgramRunsFromThePrefix
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/dist_install_test.sh ${CMAKE_BINARY_DIR})
add_test(NAME Package.ExtractedProgramRunsAndRenders
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/dist_package_test.sh ${CMAKE_BINARY_DIR})
