# The SDK stand-in's own tests, against its C interface only.
set(MVSIM_TEST_DATA ${CMAKE_CURRENT_LIST_DIR}/data)

add_executable(mvsim_test
  ${CMAKE_CURRENT_LIST_DIR}/mvsim_sdk_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mvsim_engine_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mvsim_config_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mvsim_edges_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mvsim_device_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mvsim_support.h)
target_link_libraries(mvsim_test PRIVATE MVCameraControl GTest::gtest_main kwcam_build_flags)
target_compile_definitions(mvsim_test PRIVATE MVSIM_TEST_DATA="${MVSIM_TEST_DATA}"
                                              MVSIM_HOLDER_PATH="$<TARGET_FILE:mvsim_holder>")
add_dependencies(mvsim_test mvsim_holder)
gtest_discover_tests(mvsim_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS mvsim TIMEOUT 300)

# The first call into the stand-in loads $MVSIM_CONFIG: that needs a process
# of its own.
add_executable(mvsim_env_test ${CMAKE_CURRENT_LIST_DIR}/mvsim_env_test.cpp)
target_link_libraries(mvsim_env_test PRIVATE MVCameraControl GTest::gtest_main kwcam_build_flags)
target_compile_definitions(mvsim_env_test PRIVATE MVSIM_TEST_DATA="${MVSIM_TEST_DATA}")
gtest_discover_tests(mvsim_env_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS mvsim TIMEOUT 120)

# A second process that opens a configured device, for the tests of
# exclusive access across processes.
add_executable(mvsim_holder ${CMAKE_CURRENT_LIST_DIR}/mvsim_holder.cpp)
target_link_libraries(mvsim_holder PRIVATE MVCameraControl kwcam_build_flags)

# Frame buffers and timing, on the acquisition's two threads.
add_executable(mvsim_timing_test ${CMAKE_CURRENT_LIST_DIR}/mvsim_timing_test.cpp)
target_link_libraries(mvsim_timing_test PRIVATE MVCameraControl GTest::gtest_main kwcam_build_flags)
gtest_discover_tests(mvsim_timing_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "mvsim;threaded" TIMEOUT 300)
