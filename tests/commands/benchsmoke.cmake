# Runs the benchmarks briefly and prints the table that make bench prints.
# The element's paced run lasts a second instead of ten.
execute_process(COMMAND ${CMAKE_COMMAND} -E env KWCAM_GST_PACED_SECONDS=1 ${BENCH} --benchmark_min_time=0.001 --benchmark_out=${OUT} --benchmark_out_format=json
                OUTPUT_QUIET RESULT_VARIABLE bench_result)
if(NOT bench_result EQUAL 0)
  message(FATAL_ERROR "kwcam_bench failed: ${bench_result}")
endif()
execute_process(COMMAND ${PYTHON} ${REPORT} ${OUT} RESULT_VARIABLE report_result)
if(NOT report_result EQUAL 0)
  message(FATAL_ERROR "report.py failed: ${report_result}")
endif()
