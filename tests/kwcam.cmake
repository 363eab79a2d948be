# The host tool, run as a user runs it: a process per case, over the SDK
# stand-in configured from tests/data/kwcam. The test links the stand-in only
# to compute its test pattern.
if(TARGET kwcam)
  find_package(Qt5 5.9 REQUIRED COMPONENTS Core Gui)
  add_executable(kwcam_cli_test
    kwcam/cli_test.cpp kwcam/devices_test.cpp kwcam/info_test.cpp kwcam/save_test.cpp kwcam/stream_test.cpp
    kwcam/pictures.cpp kwcam/pictures.h
    kwcam/toolrunner.cpp kwcam/toolrunner.h)
  target_link_libraries(kwcam_cli_test PRIVATE GTest::gtest_main Qt5::Core Qt5::Gui MVCameraControl
                        kwcam_build_flags)
  target_compile_definitions(kwcam_cli_test PRIVATE
    KWCAM_TOOL_PATH="$<TARGET_FILE:kwcam>"
    KWCAM_PLUGIN_FILE="$<TARGET_FILE:kwcamhik>"
    KWCAM_SDK_FILE="$<TARGET_FILE:MVCameraControl>"
    KWCAM_TEST_CONFIG="${CMAKE_CURRENT_SOURCE_DIR}/data/kwcam/cameras.json")
  add_dependencies(kwcam_cli_test kwcam kwcamhik)
  gtest_discover_tests(kwcam_cli_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS kwcam TIMEOUT 120)
endif()

# The host library's threads, also in builds without the tool (ThreadSanitizer).
if(TARGET kwcam_host)
  kwcam_add_test(kwcam_host_test kwcam/framewriter_test.cpp LABELS threaded)
  target_link_libraries(kwcam_host_test PRIVATE kwcam_host)
endif()

# A second SDK library (other device names) and the installed package over
# it: the plug-in binds to the SDK the system provides, kwcam --sim to the
# stand-in; the example host is built against the package and run.
if(TARGET kwcam)
  add_library(kwcam_other_sdk SHARED kwcam/othersdk/othersdk.cpp)
  target_link_libraries(kwcam_other_sdk PRIVATE mvsim_sdk_headers)
  set_target_properties(kwcam_other_sdk PROPERTIES OUTPUT_NAME MVCameraControl
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/othersdk CXX_VISIBILITY_PRESET hidden)
  set(example_flags "")
  if(KWCAM_ASAN)
    set(example_flags "-fsanitize=address,undefined")
  elseif(KWCAM_TSAN)
    set(example_flags "-fsanitize=thread")
  endif()
  add_test(NAME install.sdk_order_and_example
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/installed-test
      -DOTHER_SDK_DIR=${CMAKE_CURRENT_BINARY_DIR}/othersdk
      -DEXAMPLE_SOURCE_DIR=${PROJECT_SOURCE_DIR}/examples/minimal-host
      -DGENERATOR=${CMAKE_GENERATOR}
      -DBUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DHOST_FLAGS=${example_flags}
      -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DBINDIR=${CMAKE_INSTALL_BINDIR}
      -DMVSIM_CONFIG_FILE=${CMAKE_CURRENT_SOURCE_DIR}/data/kwcam/cameras.json
      -P ${CMAKE_CURRENT_SOURCE_DIR}/kwcam/installed.cmake)
  add_dependencies(kwcam_cli_test kwcam_other_sdk)
  set_tests_properties(install.sdk_order_and_example PROPERTIES LABELS "install;kwcam" TIMEOUT 600 RUN_SERIAL TRUE)
endif()
