tallyport_add_test(test_frames link/test_frames.cpp LIBS tallyport_core)
