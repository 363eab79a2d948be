# Hostile and malformed input at every entry of the plug-in.
kwcam_add_test(badinput_test badinput_test.cpp)
