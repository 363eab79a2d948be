# Run by ctest with cmake -P (see tests/kwcam.cmake): the installed package
# as a user meets it. The plug-in binds to whatever camera SDK the system's
# loader finds, here a second SDK library built by the tests; kwcam --sim
# and KWCAM_SDK choose the SDK; with no SDK at all kwcam falls back to the
# stand-in and says so.
cmake_minimum_required(VERSION 3.25)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
  set(run_error "${err}" PARENT_SCOPE)
endfunction()

function(expect what actual expected)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what} printed:\n${actual}\nexpected:\n${expected}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(kwcam ${prefix}/${BINDIR}/kwcam)

# The stand-in must not stand where the loader or the plug-in's run-time
# path would find it before a vendor's SDK.
if(EXISTS ${prefix}/${LIBDIR}/libMVCameraControl.so)
  message(FATAL_ERROR "the stand-in is installed beside the plug-in's run-time path")
endif()
if(NOT EXISTS ${prefix}/${LIBDIR}/kwcamera/sim/libMVCameraControl.so)
  message(FATAL_ERROR "the stand-in is not installed under ${LIBDIR}/kwcamera/sim")
endif()

set(clean ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=KWCAM_PLUGIN --unset=KWCAM_SDK
    MVSIM_CONFIG=${MVSIM_CONFIG_FILE})
set(simulated_keys "KW-MONO8 S0001\nKW-RGB8 S0002\nKW-RGBA8 S0003\nKW-RGB16 S0004\nKW-MONO16 S0005\nKW-BAYER S0006\nKW-ENCODER S0007\n")
set(other_keys "OTHER-GM1 X0001\nOTHER-UC2 X0002\n")

# The SDK on the loader's path is the one the plug-in lists.
run("kwcam list over the other SDK" ${clean} LD_LIBRARY_PATH=${OTHER_SDK_DIR} ${kwcam} list)
expect("kwcam list over the other SDK" "${run_output}" "${other_keys}")
run("kwcam info over the other SDK" ${clean} LD_LIBRARY_PATH=${OTHER_SDK_DIR} ${kwcam} info -c 1)
if(NOT run_output MATCHES "transport: +USB\ngeometry: +320x240 ")
  message(FATAL_ERROR "kwcam info over the other SDK printed:\n${run_output}")
endif()

# --sim wins over the loader's path; KWCAM_SDK names a library.
run("kwcam --sim list" ${clean} LD_LIBRARY_PATH=${OTHER_SDK_DIR} ${kwcam} --sim list)
expect("kwcam --sim list" "${run_output}" "${simulated_keys}")
run("KWCAM_SDK kwcam list" ${clean} KWCAM_SDK=${OTHER_SDK_DIR}/libMVCameraControl.so ${kwcam} list)
expect("KWCAM_SDK kwcam list" "${run_output}" "${other_keys}")

# No SDK anywhere (unless this machine has one installed): one line, then
# the simulated cameras.
execute_process(COMMAND ldconfig -p OUTPUT_VARIABLE system_libraries ERROR_QUIET)
if(NOT system_libraries MATCHES "libMVCameraControl\\.so")
  run("kwcam list without an SDK" ${clean} ${kwcam} list)
  expect("kwcam list without an SDK" "${run_output}" "${simulated_keys}")
  if(NOT run_error MATCHES "^kwcam: no camera SDK \\(libMVCameraControl.so\\) found; using the simulated cameras\n$")
    message(FATAL_ERROR "kwcam list without an SDK said:\n${run_error}")
  endif()
endif()

# The kit over the installed plug-in takes the options every command takes,
# and finds an SDK as every command does.
set(installed_plugin ${prefix}/${LIBDIR}/kwcamera/libkwcamhik.so)
run("kwcam --sim check" ${clean} ${kwcam} --sim check ${installed_plugin} --only library.delete-null)
if(NOT run_output MATCHES "1 checks" OR NOT run_error MATCHES "kwcam check: SDK: the simulated cameras")
  message(FATAL_ERROR "kwcam --sim check printed:\n${run_output}\n${run_error}")
endif()
run("kwcam --quiet check" ${clean} ${kwcam} --quiet check --plugin ${installed_plugin} --only library.delete-null)
expect("kwcam --quiet check on stderr" "${run_error}" "")
if(NOT system_libraries MATCHES "libMVCameraControl\\.so")
  run("kwcam check without an SDK" ${clean} ${kwcam} check ${installed_plugin} --only library.entry-points)
  if(NOT run_output MATCHES "1 checks" OR NOT run_error MATCHES "no camera SDK .* found; using the simulated cameras")
    message(FATAL_ERROR "kwcam check without an SDK printed:\n${run_output}\n${run_error}")
  endif()
endif()

if(EXAMPLE_SOURCE_DIR)
  # The example host, built against the installed package only, grabs from
  # the stand-in.
  run("configuring the example" ${CMAKE_COMMAND} -S ${EXAMPLE_SOURCE_DIR} -B ${WORK_DIR}/example-build
      -G ${GENERATOR} -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix}
      "-DCMAKE_CXX_FLAGS=${HOST_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${HOST_FLAGS}"
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
  run("building the example" ${CMAKE_COMMAND} --build ${WORK_DIR}/example-build)
  run("the example" ${clean} LD_LIBRARY_PATH=${prefix}/${LIBDIR}/kwcamera/sim QT_LOGGING_RULES=*.debug=false
      ${WORK_DIR}/example-build/minimal-host)
  if(NOT run_output MATCHES "^camera KW-MONO8 S0001\n(frame 64x48, [0-9]+ bytes\n)+5 frames\n$")
    message(FATAL_ERROR "the example printed:\n${run_output}\n${run_error}")
  endif()
  # Without an SDK on the loader's path it says how to run it on the
  # simulated cameras.
  if(NOT system_libraries MATCHES "libMVCameraControl\\.so")
    execute_process(COMMAND ${clean} ${WORK_DIR}/example-build/minimal-host
      RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(hint "no camera SDK found; for the simulated cameras run: LD_LIBRARY_PATH=${prefix}/${LIBDIR}/kwcamera/sim ")
    string(FIND "${err}" "${hint}" at)
    if(result EQUAL 0 OR at EQUAL -1)
      message(FATAL_ERROR "the example without an SDK (exit ${result}) said:\n${err}")
    endif()
  endif()
endif()
message(STATUS "installed package: SDK search order and the example host fine")
