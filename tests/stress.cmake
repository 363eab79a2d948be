# Many cycles, many cameras, many triggers, and re-entry from the frame path.
# KWCAM_STRESS_CYCLES shortens the lifecycle cycles (make memcheck).
kwcam_add_test(stress_test stress_test.cpp LABELS threaded)
