# Replay of recorded pictures: decoding, conversions and setup checks, and
# the picture cache with its loader thread, against the replay library.
# The tests write their pictures with Qt Gui.
find_package(Qt5 5.9 REQUIRED COMPONENTS Gui)
add_executable(mvsim_replay_test ${CMAKE_CURRENT_LIST_DIR}/mvsim_replay_test.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/replay_pictures.h)
target_link_libraries(mvsim_replay_test PRIVATE mvsim_replay Qt5::Gui GTest::gtest_main kwcam_build_flags)
gtest_discover_tests(mvsim_replay_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS mvsim TIMEOUT 120)

add_executable(mvsim_picturefeed_test ${CMAKE_CURRENT_LIST_DIR}/mvsim_picturefeed_test.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/replay_pictures.h)
target_link_libraries(mvsim_picturefeed_test PRIVATE mvsim_replay Qt5::Gui GTest::gtest_main kwcam_build_flags)
gtest_discover_tests(mvsim_picturefeed_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "mvsim;threaded" TIMEOUT 120)


# Through the plug-in, as a host receives the pictures.
kwcam_add_test(replay_plugin_test replay_plugin_test.cpp replay_pictures.h LABELS threaded)
target_link_libraries(replay_plugin_test PRIVATE Qt5::Gui)

# kwcam over a replaying device, run as a user runs it.
if(TARGET kwcam)
  add_executable(kwcam_replay_test
    kwcam/replay_save_test.cpp replay_pictures.h
    kwcam/pictures.cpp kwcam/pictures.h
    kwcam/toolrunner.cpp kwcam/toolrunner.h)
  target_include_directories(kwcam_replay_test PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/kwcam)
  target_link_libraries(kwcam_replay_test PRIVATE GTest::gtest_main Qt5::Core Qt5::Gui kwcam_build_flags)
  target_compile_definitions(kwcam_replay_test PRIVATE
    KWCAM_TOOL_PATH="$<TARGET_FILE:kwcam>"
    KWCAM_TEST_CONFIG="${CMAKE_CURRENT_LIST_DIR}/data/kwcam/cameras.json")
  add_dependencies(kwcam_replay_test kwcam kwcamhik)
  gtest_discover_tests(kwcam_replay_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS kwcam TIMEOUT 120)
endif()
