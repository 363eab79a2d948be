# Installs the build into a prefix of its own, builds a small host against
# the installed package and runs it and the installed tool: the layout, the
# package, the run-time paths and the tool's plug-in search are checked as a
# user meets them.
if(TARGET kwcam)
  # The host loads the plug-in, so it must carry the same sanitizer runtime.
  set(host_flags "")
  if(KWCAM_ASAN)
    set(host_flags "-fsanitize=address,undefined")
  elseif(KWCAM_TSAN)
    set(host_flags "-fsanitize=thread")
  endif()
  add_test(NAME install.package_and_host
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install-test
      -DHOST_SOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/install/host
      -DGENERATOR=${CMAKE_GENERATOR}
      -DBUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DHOST_FLAGS=${host_flags}
      -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DBINDIR=${CMAKE_INSTALL_BINDIR}
      -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
      -DMVSIM_CONFIG_FILE=${CMAKE_CURRENT_SOURCE_DIR}/data/kwcam/cameras.json
      -P ${CMAKE_CURRENT_SOURCE_DIR}/install/run.cmake)
  # Installing reads the whole build tree: nothing else may build or
  # install meanwhile.
  set_tests_properties(install.package_and_host PROPERTIES LABELS install TIMEOUT 600 RUN_SERIAL TRUE)
endif()
