# Every SDK call of every operation made to fail in turn.
kwcam_add_test(faultsweep_test faultsweep_test.cpp)
