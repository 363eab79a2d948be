# Replay of recorded pictures: decoding, conversions and setup checks, and
# the picture cache with its loader thread, against the replay library.
add_executable(mvsim_replay_test ${CMAKE_CURRENT_LIST_DIR}/mvsim_replay_test.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/replay_pictures.h)
target_link_libraries(mvsim_replay_test PRIVATE mvsim_replay GTest::gtest_main kwcam_build_flags)
gtest_discover_tests(mvsim_replay_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS mvsim TIMEOUT 120)

add_executable(mvsim_picturefeed_test ${CMAKE_CURRENT_LIST_DIR}/mvsim_picturefeed_test.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/replay_pictures.h)
target_link_libraries(mvsim_picturefeed_test PRIVATE mvsim_replay GTest::gtest_main kwcam_build_flags)
gtest_discover_tests(mvsim_picturefeed_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "mvsim;threaded" TIMEOUT 120)


# Through the plug-in, as a host receives the pictures.
kwcam_add_test(replay_plugin_test replay_plugin_test.cpp replay_pictures.h LABELS threaded)
target_link_libraries(replay_plugin_test PRIVATE Qt5::Gui)
