# Contract and plug-in tests: the plug-in is loaded as a host loads it.
kwcam_add_test(contract_test contract_test.cpp)
kwcam_add_test(plugin_test
  plugin_spine_test.cpp
  plugin_open_test.cpp
  plugin_frame_test.cpp
  plugin_trigger_test.cpp
  plugin_property_test.cpp)
target_compile_definitions(plugin_test PRIVATE
  KWCAM_NM_COMMAND="${CMAKE_NM}")

# The plug-in with its per-frame entry streamed into a QDebug: the reference
# that the shipped entry is compared with.
add_library(kwcamhik_streamed MODULE
  ${PROJECT_SOURCE_DIR}/src/kwcamera/kwcamhik/camerahik.cpp
  ${PROJECT_SOURCE_DIR}/src/kwcamera/kwcamhik/cameraentry.cpp)
target_compile_definitions(kwcamhik_streamed PRIVATE KWCAM_STREAMED_FRAME_ENTRY)
target_link_libraries(kwcamhik_streamed PRIVATE kwcamera_contract mvsim_sdk_headers MVCameraControl kwcam_build_flags)
set_target_properties(kwcamhik_streamed PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_link_options(kwcamhik_streamed PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/src/kwcamera/kwcamhik/exports.map)
target_compile_definitions(plugin_test PRIVATE KWCAM_STREAMED_PLUGIN_PATH="$<TARGET_FILE:kwcamhik_streamed>")
add_dependencies(plugin_test kwcamhik_streamed)
