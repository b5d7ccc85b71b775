tallyport_add_test(test_frames link/test_frames.cpp LIBS tallyport_core)
tallyport_add_test(test_reader_link link/test_reader_link.cpp LIBS tallyport_core)
tallyport_add_test(test_detection link/test_detection.cpp LIBS tallyport_core)
