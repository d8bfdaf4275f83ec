# The installation: `cmake --install build --prefix PREFIX` puts
#   bin/    the programs and halvard-start (registers the filters, runs the launcher)
#   lib/    the shared libraries, the filter components and the resource module
#   share/  the launcher's .desktop file and icon, and the systemd user unit
# Run paths are relative ($ORIGIN/../lib for programs, $ORIGIN for libraries), so the
# tree works wherever it is put. Tests and benchmarks are not installed.
include(GNUInstallDirs)

set(HALVARD_INSTALL_BINDIR "${CMAKE_INSTALL_FULL_BINDIR}")
set(HALVARD_INSTALL_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")

# Every program and library target of the tree, except test and benchmark programs.
function(halvard_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  set(found)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    get_target_property(runtimeDir ${t} RUNTIME_OUTPUT_DIRECTORY)
    if(type STREQUAL "EXECUTABLE")
      if(runtimeDir STREQUAL HALVARD_TEST_OUTPUT_DIRECTORY OR t MATCHES "(_tests|_bench|_runner)$")
        continue()
      endif()
      list(APPEND found ${t})
    elseif(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
      if(NOT t MATCHES "test")
        list(APPEND found ${t})
      endif()
    endif()
  endforeach()
  foreach(d ${subdirs})
    if(d MATCHES "/(bench|tests)(/|$)")
      continue()
    endif()
    halvard_collect_targets(${d} sub)
    list(APPEND found ${sub})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

halvard_collect_targets(${CMAKE_SOURCE_DIR} HALVARD_INSTALL_TARGETS)
foreach(t ${HALVARD_INSTALL_TARGETS})
  install(TARGETS ${t}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endforeach()

set(share ${CMAKE_SOURCE_DIR}/resources/share)
configure_file(${share}/halvard-start.in ${CMAKE_BINARY_DIR}/install/halvard-start @ONLY)
configure_file(${share}/halvard.desktop.in ${CMAKE_BINARY_DIR}/install/halvard.desktop @ONLY)
configure_file(${share}/halvard.service.in ${CMAKE_BINARY_DIR}/install/halvard.service @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/install/halvard-start DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/install/halvard.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${share}/halvard.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_BINARY_DIR}/install/halvard.service DESTINATION ${CMAKE_INSTALL_DATADIR}/systemd/user)
