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
  kwcam_add_test(kwcam_host_test kwcam/framewriter_test.cpp LABELS kwcam threaded)
  target_link_libraries(kwcam_host_test PRIVATE kwcam_host)
endif()
