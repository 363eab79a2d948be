# Runs the benchmarks briefly and prints the table that make bench prints.
execute_process(COMMAND ${BENCH} --benchmark_min_time=0.001 --benchmark_out=${OUT} --benchmark_out_format=json
                OUTPUT_QUIET RESULT_VARIABLE bench_result)
if(NOT bench_result EQUAL 0)
  message(FATAL_ERROR "kwcam_bench failed: ${bench_result}")
endif()
execute_process(COMMAND ${PYTHON} ${REPORT} ${OUT} RESULT_VARIABLE report_result)
if(NOT report_result EQUAL 0)
  message(FATAL_ERROR "report.py failed: ${report_result}")
endif()
