# What `cmake --install` puts under the prefix: the shared library with its
# SONAME links, tavrix.h, the tool, the CMake package (Tavrix::tavrix) and
# tavrix.pc; and the Debian package made from the same rules by `cpack`.
include(CMakePackageConfigHelpers)
set(TAVRIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tavrix)

install(TARGETS tavrix EXPORT TavrixTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/tavrix.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The measurement layer beside it: libtavrix-measure and its C header.
if(TARGET tavrix_measure)
  set_target_properties(tavrix_measure PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS tavrix_measure EXPORT TavrixTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/measure/include/tavrix_measure.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()
if(TARGET tavrix_cli)
  # The tool finds the library beside it in any prefix.
  set_target_properties(tavrix_cli PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS tavrix_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT TavrixTargets NAMESPACE Tavrix:: DESTINATION ${TAVRIX_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TavrixConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/TavrixConfig.cmake INSTALL_DESTINATION ${TAVRIX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TavrixConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/TavrixConfig.cmake ${CMAKE_BINARY_DIR}/TavrixConfigVersion.cmake
        DESTINATION ${TAVRIX_CMAKE_DIR})

if(TARGET tavrix_measure)
  set(TAVRIX_WITH_MEASURE TRUE)
else()
  set(TAVRIX_WITH_MEASURE FALSE)
endif()
# tavrix.pc names absolute directories, so it is written at install time,
# when the prefix is known (`cmake --install --prefix P` chooses it late).
install(CODE "
  set(TAVRIX_PC_VERSION \"${PROJECT_VERSION}\")
  set(TAVRIX_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(TAVRIX_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/tavrix.pc\")
  message(STATUS \"Installing: \${pc}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/tavrix.pc.in\" \"\${pc}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${pc}\")
  if(\"${TAVRIX_WITH_MEASURE}\" STREQUAL \"TRUE\")
    set(pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/tavrix-measure.pc\")
    message(STATUS \"Installing: \${pc}\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/tavrix-measure.pc.in\" \"\${pc}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${pc}\")
  endif()
")

# `make package`: a Debian package of all the above under /usr. Installing
# into a staging DESTDIR keeps /usr as the prefix written into tavrix.pc.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrix)
set(CPACK_PACKAGE_CONTACT "Tavrix developers <tavrix@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "room-acoustics measurement library (sweeps, impulse responses, reverberation, STI) and tool")
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pkg-config, cmake")
include(CPack)

# The installed tree seen by its consumers, and the Python package against
# this build's library. Neither runs in the sanitizer build: consumers and an
# uninstrumented python cannot load an instrumented library.
if(TAVRIX_TESTS AND NOT TAVRIX_SANITIZE)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/install ${CMAKE_BINARY_DIR}/tests/install)
  # Debian's interpreter: the first python3 on PATH may be one without numpy.
  set(TAVRIX_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with numpy and pytest for the package's tests")
  execute_process(COMMAND ${TAVRIX_PYTHON} -c "import numpy, pytest" RESULT_VARIABLE TAVRIX_PYTHON_MISSING
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT TARGET tavrix_measure OR NOT TARGET tavrix_cli)
    message(STATUS "Python package tests skipped: the measurement layer and the tool are not built")
  elseif(TAVRIX_PYTHON_MISSING)
    message(STATUS "Python package tests skipped: ${TAVRIX_PYTHON} lacks numpy or pytest (make deps)")
  else()
    add_test(NAME python COMMAND ${TAVRIX_PYTHON} -m pytest -q -p no:cacheprovider ${CMAKE_SOURCE_DIR}/python/tests
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/python)
    set_tests_properties(python PROPERTIES ENVIRONMENT
      "TAVRIX_MEASURE_LIBRARY=$<TARGET_FILE:tavrix_measure>;TAVRIX_TOOL=$<TARGET_FILE:tavrix_cli>")
  endif()
endif()
