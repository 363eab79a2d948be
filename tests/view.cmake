# The viewer (tools/view), headless: its frame conversion, triple buffer and
# loss counts (ViewConvert, ViewTripleBuffer, ViewLostFrames), its window
# over the plug-in and the stand-in (ViewWindow), and the program run as a
# script runs it (ViewProgram). GoogleTest cases with QtTest's input events
# and waits, on Qt's offscreen platform.
if(TARGET kwcam_view_widgets)
  find_package(Qt5 5.9 REQUIRED COMPONENTS Widgets Test)
  set(KWCAM_VIEW_TEST_PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=default.debug=false" TIMEOUT 300)

  # Threaded: the triple buffer's writer and reader.
  add_executable(view_convert_test view/convert_test.cpp)
  target_link_libraries(view_convert_test PRIVATE kwcam_view_core GTest::gtest_main kwcam_build_flags)
  gtest_discover_tests(view_convert_test DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS "view;threaded" ${KWCAM_VIEW_TEST_PROPERTIES})

  add_executable(view_window_test view/window_test.cpp view/viewtest_main.cpp)
  target_link_libraries(view_window_test PRIVATE kwcam_view_widgets MVCameraControl Qt5::Test GTest::gtest
                        kwcam_build_flags)
  target_compile_definitions(view_window_test PRIVATE KWCAM_PLUGIN_PATH="$<TARGET_FILE:kwcamhik>")
  add_dependencies(view_window_test kwcamhik)
  gtest_discover_tests(view_window_test DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS "view;threaded" ${KWCAM_VIEW_TEST_PROPERTIES})

  if(TARGET kwcam-view)
    add_executable(view_program_test view/program_test.cpp view/viewtest_main.cpp)
    target_link_libraries(view_program_test PRIVATE Qt5::Widgets GTest::gtest kwcam_build_flags)
    target_compile_definitions(view_program_test PRIVATE
      KWCAM_VIEW_PATH="$<TARGET_FILE:kwcam-view>"
      KWCAM_PLUGIN_PATH="$<TARGET_FILE:kwcamhik>")
    add_dependencies(view_program_test kwcam-view kwcamhik)
    gtest_discover_tests(view_program_test DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "view" ${KWCAM_VIEW_TEST_PROPERTIES})
  endif()
endif()
