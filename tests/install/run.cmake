# Run by ctest with cmake -P; see tests/install/CMakeLists.txt for the variables.
cmake_minimum_required(VERSION 3.25)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(file
    ${BINDIR}/kwcam
    ${LIBDIR}/kwcamera/sim/libMVCameraControl.so
    ${LIBDIR}/kwcamera/libkwcamhik.so
    ${INCLUDEDIR}/kwcamera/cameraobject.h
    ${INCLUDEDIR}/kwcamera/sim/mvsim/control.h
    ${LIBDIR}/cmake/KwCamera/KwCameraConfig.cmake
    ${LIBDIR}/cmake/KwCamera/KwCameraConfigVersion.cmake
    ${LIBDIR}/cmake/KwCamera/KwCameraTargets.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# Only the installed package may be found: no package registry, no build tree.
run("configuring the host" ${CMAKE_COMMAND} -S ${HOST_SOURCE_DIR} -B ${WORK_DIR}/host-build -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix}
    "-DCMAKE_CXX_FLAGS=${HOST_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${HOST_FLAGS}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
run("building the host" ${CMAKE_COMMAND} --build ${WORK_DIR}/host-build)

set(expected_keys "KW-MONO8 S0001\nKW-RGB8 S0002\nKW-RGBA8 S0003\nKW-RGB16 S0004\nKW-MONO16 S0005\nKW-BAYER S0006\nKW-ENCODER S0007\n")
# The stand-in is installed out of the loader's way: a host that wants it
# puts it on the library path (kwcam loads it by itself when no SDK is found).
set(environment ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=KWCAM_PLUGIN --unset=KWCAM_SDK
    MVSIM_CONFIG=${MVSIM_CONFIG_FILE})

run("the host" ${environment} LD_LIBRARY_PATH=${prefix}/${LIBDIR}/kwcamera/sim ${WORK_DIR}/host-build/kwcamera_host)
if(NOT run_output STREQUAL expected_keys)
  message(FATAL_ERROR "the host listed:\n${run_output}\nexpected:\n${expected_keys}")
endif()

run("the installed kwcam" ${environment} ${prefix}/${BINDIR}/kwcam list)
if(NOT run_output STREQUAL expected_keys)
  message(FATAL_ERROR "kwcam list printed:\n${run_output}\nexpected:\n${expected_keys}")
endif()

# The tool must take the plug-in installed beside it, not the build tree's.
run("the installed kwcam" ${environment} ${prefix}/${BINDIR}/kwcam grab -n 2)
file(REAL_PATH ${prefix}/${LIBDIR}/kwcamera/libkwcamhik.so installed_plugin)
if(NOT run_output MATCHES "plug-in: +${installed_plugin}\n")
  message(FATAL_ERROR "kwcam grab did not load ${installed_plugin}:\n${run_output}")
endif()
# A host's test linking the simulator through KwCamera::simulator: no
# library path needed, the package's imported target carries the library.
run("the host's simulated test" ${environment} ${WORK_DIR}/host-build/kwcamera_host_simulated)
if(NOT run_output STREQUAL "HOST-TEST T0001\n")
  message(FATAL_ERROR "the host's simulated test listed:\n${run_output}")
endif()

# The GStreamer element, from its installed folder, takes the plug-in and
# the simulator installed with it.
if(GST_LAUNCH)
  set(element_dir ${prefix}/${LIBDIR}/gstreamer-1.0)
  if(NOT EXISTS ${element_dir}/libgstkwcamera.so)
    message(FATAL_ERROR "not installed: ${LIBDIR}/gstreamer-1.0/libgstkwcamera.so")
  endif()
  # The pipeline of docs/gstreamer.md, with the element's log on stderr.
  execute_process(COMMAND ${environment} GST_PLUGIN_PATH=${element_dir} GST_REGISTRY=${WORK_DIR}/registry.bin
                  MVSIM_RUNTIME_DIR=${WORK_DIR} GST_DEBUG=kwcamsrc:4 GST_DEBUG_NO_COLOR=1
                  ${GST_LAUNCH} kwcamsrc num-buffers=30 ! videoconvert ! pngenc snapshot=true
                  ! filesink location=frame.png
                  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE log)
  if(NOT result EQUAL 0 OR NOT out MATCHES "Got EOS" OR NOT EXISTS ${WORK_DIR}/frame.png)
    message(FATAL_ERROR "the installed kwcamsrc failed (${result}):\n${out}\n${log}")
  endif()
  string(FIND "${log}" "through the plug-in ${installed_plugin}:" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the installed kwcamsrc did not load ${installed_plugin}:\n${log}")
  endif()
endif()
message(STATUS "installed layout, package, host, tool and element: fine")
