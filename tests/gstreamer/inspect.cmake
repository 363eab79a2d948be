# gst-inspect-1.0 kwcamsrc describes the element and every property of its own.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env GST_PLUGIN_PATH=${ELEMENT_DIR} GST_REGISTRY=${REGISTRY} ${GST_INSPECT} kwcamsrc
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gst-inspect-1.0 kwcamsrc exited with ${result}:\n${output}")
endif()
foreach(expected "libgstkwcamera.so" "camera  " "sdk  " "plugin  " "trigger  " "\"free-running\"" "software"
        "hardware" "exposure  " "gain  " "queue-size  " "timeout  " "dropped  " "num-buffers  " "do-timestamp  "
        "\"snap\"" "\"pulse\"" "video/x-bayer" "GRAY16_LE")
  string(FIND "${output}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "gst-inspect-1.0 kwcamsrc does not show '${expected}':\n${output}")
  endif()
endforeach()
