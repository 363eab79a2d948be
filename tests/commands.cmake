# The commands the README documents beyond the tool: make demo, and the
# pieces behind make fuzz, make bench and make memcheck, run small.

# make demo, in this build tree: lists the cameras, grabs, saves a picture.
if(KWCAM_BUILD_TOOLS)
  add_test(NAME commands.make_demo
    COMMAND make -C ${PROJECT_SOURCE_DIR} demo BUILD=${CMAKE_BINARY_DIR})
  set_tests_properties(commands.make_demo PROPERTIES
    LABELS commands TIMEOUT 300 RUN_SERIAL ON
    ENVIRONMENT "MVSIM_CONFIG="
    PASS_REGULAR_EXPRESSION "SIM-GM8-1280 00A1B2C3D4.*frames: +30 of 30.*saved: .*demo-frame.png.*the last frame is in")
endif()

# The fuzz target over its seed corpus, without the fuzzer.
add_executable(fuzz_replay fuzzreplay_main.cpp ${PROJECT_SOURCE_DIR}/fuzz/open_fuzz.cpp)
target_link_libraries(fuzz_replay PRIVATE kwcamera_contract MVCameraControl ${CMAKE_DL_LIBS} kwcam_build_flags)
target_compile_definitions(fuzz_replay PRIVATE KWCAM_PLUGIN_PATH="$<TARGET_FILE:kwcamhik>")
add_dependencies(fuzz_replay kwcamhik)
add_test(NAME commands.fuzz_corpus_replay COMMAND fuzz_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus)
set_tests_properties(commands.fuzz_corpus_replay PROPERTIES LABELS commands TIMEOUT 120
  PASS_REGULAR_EXPRESSION "fuzz replay: [1-9][0-9]* inputs")

# The benchmarks, a short run, and the table make bench prints from them.
if(KWCAM_BUILD_BENCH)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    add_test(NAME commands.bench_table
      COMMAND ${CMAKE_COMMAND} -DBENCH=$<TARGET_FILE:kwcam_bench> -DREPORT=${PROJECT_SOURCE_DIR}/bench/report.py
              -DPYTHON=${Python3_EXECUTABLE} -DOUT=${CMAKE_CURRENT_BINARY_DIR}/bench-smoke.json
              -P ${CMAKE_CURRENT_SOURCE_DIR}/scripts/benchsmoke.cmake)
    set_tests_properties(commands.bench_table PROPERTIES LABELS commands TIMEOUT 300 RUN_SERIAL ON
      PASS_REGULAR_EXPRESSION "entry on vs streamed entry.*entry off vs bare forwarding call.*IStopCamera while free-running"
      FAIL_REGULAR_EXPRESSION "failed")
  endif()
endif()

# make memcheck's run, with fewer cycles; valgrind cannot run sanitized code.
find_program(VALGRIND valgrind)
if(VALGRIND AND NOT KWCAM_ASAN AND NOT KWCAM_TSAN)
  add_test(NAME commands.memcheck_cycles
    COMMAND ${VALGRIND} --quiet --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect
            --errors-for-leak-kinds=definite,indirect --error-exitcode=1
            $<TARGET_FILE:stress_test> --gtest_filter=Stress.LifecycleCycles*)
  set_tests_properties(commands.memcheck_cycles PROPERTIES LABELS commands TIMEOUT 300
    ENVIRONMENT "KWCAM_STRESS_CYCLES=3")
endif()
