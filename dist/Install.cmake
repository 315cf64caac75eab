# Installing and packaging: the program, the files it ships, and what the
# desktop reads about it (entry, icons, metainfo, man page). Included from the
# top-level CMakeLists.txt, so that `package` is a target of the whole build.

include(GNUInstallDirs)
set(VISTREL_APP_ID io.github.vistrel.Vistrel)
# The icon theme's common sizes; 32 is the icon's own.
set(VISTREL_ICON_SIZES 16 24 32 48 64 128 256)
set(DIST_OUT ${CMAKE_BINARY_DIR}/dist)

configure_file(${CMAKE_SOURCE_DIR}/dist/${VISTREL_APP_ID}.metainfo.xml.in ${DIST_OUT}/${VISTREL_APP_ID}.metainfo.xml @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/dist/vistrel.1.in ${DIST_OUT}/vistrel.1 @ONLY)

add_executable(make_icons tools/make_icons.cpp)
target_link_libraries(make_icons PRIVATE Qt6::Gui)
set(VISTREL_ICONS)
foreach(size ${VISTREL_ICON_SIZES})
  list(APPEND VISTREL_ICONS ${DIST_OUT}/icons/${size}x${size}/apps/${VISTREL_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${VISTREL_ICONS}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:make_icons>
          ${CMAKE_SOURCE_DIR}/assets/vistrel.png ${DIST_OUT}/icons ${VISTREL_APP_ID} ${VISTREL_ICON_SIZES}
  DEPENDS make_icons ${CMAKE_SOURCE_DIR}/assets/vistrel.png COMMENT "Scaling the application icon")
add_custom_target(desktop_icons ALL DEPENDS ${VISTREL_ICONS})

# Manual pages are installed compressed, without a time stamp, as Debian's are.
add_custom_command(OUTPUT ${DIST_OUT}/vistrel.1.gz
  COMMAND gzip -9nc ${DIST_OUT}/vistrel.1 > ${DIST_OUT}/vistrel.1.gz
  DEPENDS ${DIST_OUT}/vistrel.1 COMMENT "Compressing the manual page")
add_custom_target(manual_page ALL DEPENDS ${DIST_OUT}/vistrel.1.gz)

# The program looks for its shipped files in ../share/vistrel beside its bin folder.
install(TARGETS vistrel vistrel-decoder RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/30861.jpg ${CMAKE_BINARY_DIR}/ScopeReadme.txt DESTINATION share/vistrel)
install(FILES ${CMAKE_SOURCE_DIR}/dist/${VISTREL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${DIST_OUT}/${VISTREL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${DIST_OUT}/vistrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(DIRECTORY ${DIST_OUT}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# A Debian package of the installed tree. dpkg-shlibdeps finds the libraries the
# program links; the image-format plugins for TIFF and WebP are loaded at run
# time, where it cannot see them, so they are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VENDOR "The Vistrel developers")
set(CPACK_PACKAGE_CONTACT "The Vistrel developers <vistrel@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "waveform monitor and vectorscope for still pictures")
set(CPACK_PACKAGE_DESCRIPTION "Vistrel judges the exposure and colour of a still picture the way a video
engineer judges a picture signal: a line scope (waveform monitor, RGB+Y parade)
and a vectorscope computed from every pixel, a probe for single pixels, and
vistrel --render to write both instruments as PNG images from scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(CPack)

add_test(NAME Install.DesktopFilesValidateAndTheProgramRunsFromThePrefix
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/dist_install_test.sh ${CMAKE_BINARY_DIR})
add_test(NAME Package.ExtractedProgramRunsAndRenders
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/dist_package_test.sh ${CMAKE_BINARY_DIR})
