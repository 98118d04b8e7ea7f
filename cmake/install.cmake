# SPDX-License-Identifier: Apache-2.0
# What `cmake --install` puts where, and the packages CPack makes of it.
#   Linux:   bin/velmora-render, lib/velmora/ (the plug-in, the image codecs and the mesh importer
#            program), share/velmora/
#            (presets, examples, docs, the licence and changes), share/man/man1/velmora-render.1.
#            The program finds its companions relative to its own folder (host/util), so any
#            prefix and DESTDIR work. `cpack` makes the Debian package of the renderer.
#   Windows: the plug-in velmora.p with its install note, licence and changes; `cpack` makes a zip.
include(GNUInstallDirs)

# Installing installs what is built; it builds nothing more (the test programs are not installed).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora developers")
set(CPACK_PACKAGE_CONTACT "Velmora developers <velmora@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

if(WIN32)
  install(TARGETS velmora RUNTIME DESTINATION . LIBRARY DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/INSTALL-plugin.txt DESTINATION . RENAME INSTALL.txt)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME velmora-${PROJECT_VERSION}-win32-plugin)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

if(NOT VELMORA_BUILD_HOST)
  return()
endif()

install(TARGETS velmora-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS velmora velmora_host_codecs LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/velmora)
install(TARGETS velmora-mesh-import RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR}/velmora)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/presets/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/presets
        FILES_MATCHING PATTERN "*.json")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/examples)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/docs)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora)

# The manual page is made from the program's own --help and --version, so the two cannot drift.
find_program(VELMORA_HELP2MAN help2man)
if(VELMORA_HELP2MAN)
  set(man ${PROJECT_BINARY_DIR}/velmora-render.1)
  add_custom_command(
    OUTPUT ${man}
    COMMAND ${VELMORA_HELP2MAN} --no-info --section=1 --name=${PROJECT_DESCRIPTION}
            --output=${man} $<TARGET_FILE:velmora-render>
    DEPENDS velmora-render
    COMMENT "Writing the manual page from velmora-render --help"
    VERBATIM)
  add_custom_target(velmora_manual ALL DEPENDS ${man})
  install(FILES ${man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual page (scripts/install-deps.sh installs it)")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The fonts sweep labels are drawn in; everything else comes from the libraries linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-dejavu-core)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Skin shader plug-in and the renderer that shows it")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "velmora-render loads the Velmora skin shader plug-in and renders scenes with it:\nJSON scenes and host scene files, meshes through assimp, images through\nOpenImageIO, ray tracing with Embree, and look development in the browser.")
include(CPack)
