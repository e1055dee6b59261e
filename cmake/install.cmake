# Installation: the two programs, their manuals, the reader library with its CMake package,
# and a Debian package of all of it, built by CPack.
include(CMakePackageConfigHelpers)

install(TARGETS tessloom EXPORT tessloomTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tessloom-inspect)
  install(TARGETS tessloom-inspect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The reader, its two headers and the package that lets find_package(tessloom) link it,
# convert scenes in a program (tessloom::converter) and in a build (tessloom::tessloom and
# tessloom_add_meshes).
set(packageDir ${CMAKE_INSTALL_LIBDIR}/cmake/tessloom)
install(TARGETS tessloom_meshfile tessloom_format EXPORT tessloomTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessloom/meshfile)
# The converter as a library: one archive and its one header, beside the reader's folder
install(TARGETS tessloom_converter_package EXPORT tessloomTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessloom)
install(EXPORT tessloomTargets NAMESPACE tessloom:: DESTINATION ${packageDir})
configure_package_config_file(cmake/tessloomConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tessloomConfig.cmake INSTALL_DESTINATION ${packageDir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tessloomConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tessloomConfig.cmake
  ${PROJECT_BINARY_DIR}/tessloomConfigVersion.cmake cmake/tessloomMeshes.cmake
  DESTINATION ${packageDir})

# The Python module, where the interpreter finds modules under the prefix (Debian:
# lib/python3/dist-packages); the package suggests the interpreter it was built for and numpy.
if(TARGET tessloom_python)
  install(TARGETS tessloom_python LIBRARY DESTINATION ${TESSLOOM_PYTHON_DIR})
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS ${TESSLOOM_PYTHON_SUGGESTS})
endif()

# Manuals and the changelog: the version filled in, compressed as Debian keeps them.
set(compressed)
foreach(page tessloom.1 tessloom-inspect.1 tessloom-meshfile.5)
  configure_file(man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  list(APPEND compressed ${PROJECT_BINARY_DIR}/man/${page})
endforeach()
configure_file(packaging/changelog.in ${PROJECT_BINARY_DIR}/man/changelog @ONLY)
list(APPEND compressed ${PROJECT_BINARY_DIR}/man/changelog)
set(gzipped)
foreach(file ${compressed})
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file} DEPENDS ${file})
  list(APPEND gzipped ${file}.gz)
endforeach()
add_custom_target(manuals ALL DEPENDS ${gzipped})
set(docDir ${CMAKE_INSTALL_DATADIR}/doc/tessloom)
install(FILES packaging/copyright DESTINATION ${docDir})
# a program that loads mesh files through the package, for users to start from
install(FILES examples/mesh_info/CMakeLists.txt examples/mesh_info/mesh_info.cpp
  DESTINATION ${docDir}/examples/mesh_info)
# and one that converts scenes through the library
install(FILES examples/convert_scene/CMakeLists.txt examples/convert_scene/convert_scene.cpp
  DESTINATION ${docDir}/examples/convert_scene)
install(FILES ${PROJECT_BINARY_DIR}/man/changelog.gz DESTINATION ${docDir})
if(tessloomIsStatic)
  install(FILES packaging/lintian-overrides RENAME tessloom
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
endif()

set(CPACK_PACKAGE_NAME tessloom)
set(CPACK_PACKAGE_VENDOR "The tessloom developers")
set(CPACK_PACKAGE_CONTACT "The tessloom developers <tessloom@tessloom.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts ASE scenes into compact binary mesh files")
# CPack puts the summary above this as the synopsis line
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "tessloom reads one ASE (ASCII Scene Export) text scene and writes its
material, vertices, texture vertices, faces with normals and bounds as a
little-endian binary mesh file. tessloom-inspect shows, checks and dumps
such files, draws them and exports them as glTF. The package also holds
the mesh file reader and the converter as static libraries with a CMake
package, for programs that load these files or convert scenes.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessloom.org")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
