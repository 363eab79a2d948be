# The viewer (tools/view), headless with QtTest: its frame conversion and
# triple buffer (view_convert), its window over the plug-in and the
# stand-in (view_window), and the program run as a script runs it
# (view_program). The widget tests run on Qt's offscreen platform.
if(TARGET kwcam_view_widgets)
  find_package(Qt5 5.9 REQUIRED COMPONENTS Test)
  set(KWCAM_VIEW_TEST_ENV "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=default.debug=false")

  add_executable(view_convert_test view/convert_test.cpp)
  set_target_properties(view_convert_test PROPERTIES AUTOMOC ON)
  target_link_libraries(view_convert_test PRIVATE kwcam_view_core Qt5::Test kwcam_build_flags)
  add_test(NAME view_convert COMMAND view_convert_test)
  # Threaded: the triple buffer's writer and reader.
  set_tests_properties(view_convert PROPERTIES ENVIRONMENT "${KWCAM_VIEW_TEST_ENV}" LABELS "view;threaded"
                       TIMEOUT 120)

  add_executable(view_window_test view/window_test.cpp)
  set_target_properties(view_window_test PROPERTIES AUTOMOC ON)
  target_link_libraries(view_window_test PRIVATE kwcam_view_widgets MVCameraControl Qt5::Test kwcam_build_flags)
  target_compile_definitions(view_window_test PRIVATE KWCAM_PLUGIN_PATH="$<TARGET_FILE:kwcamhik>")
  add_dependencies(view_window_test kwcamhik)
  add_test(NAME view_window COMMAND view_window_test)
  set_tests_properties(view_window PROPERTIES ENVIRONMENT "${KWCAM_VIEW_TEST_ENV}" LABELS "view;threaded"
                       TIMEOUT 300)

  if(TARGET kwcam-view)
    add_executable(view_program_test view/program_test.cpp)
    set_target_properties(view_program_test PROPERTIES AUTOMOC ON)
    target_link_libraries(view_program_test PRIVATE Qt5::Test Qt5::Gui kwcam_build_flags)
    target_compile_definitions(view_program_test PRIVATE
      KWCAM_VIEW_PATH="$<TARGET_FILE:kwcam-view>"
      KWCAM_PLUGIN_PATH="$<TARGET_FILE:kwcamhik>")
    add_dependencies(view_program_test kwcam-view kwcamhik)
    add_test(NAME view_program COMMAND view_program_test)
    set_tests_properties(view_program PROPERTIES ENVIRONMENT "${KWCAM_VIEW_TEST_ENV}" LABELS "view" TIMEOUT 300)
  endif()
endif()
