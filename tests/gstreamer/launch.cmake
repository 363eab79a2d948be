# The pipeline of docs/gstreamer.md, as written, in a folder of its own:
# 30 frames of the first built-in simulated camera, the last one a PNG.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=MVSIM_CONFIG --unset=KWCAM_SDK --unset=KWCAM_PLUGIN GST_PLUGIN_PATH=${ELEMENT_DIR} GST_REGISTRY=${REGISTRY}
          MVSIM_RUNTIME_DIR=${WORK_DIR}
          ${GST_LAUNCH} kwcamsrc num-buffers=30 ! videoconvert ! pngenc snapshot=true ! filesink location=frame.png
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gst-launch-1.0 exited with ${result}:\n${output}")
endif()
if(NOT output MATCHES "Got EOS")
  message(FATAL_ERROR "the pipeline did not end in EOS:\n${output}")
endif()
# The PNG signature, then IHDR with the camera's 1280 x 1024.
file(READ ${WORK_DIR}/frame.png head LIMIT 24 HEX)
if(NOT head STREQUAL "89504e470d0a1a0a0000000d494844520000050000000400")
  message(FATAL_ERROR "frame.png is no 1280x1024 PNG: ${head}")
endif()
