tallyport_add_test(test_frames link/tst_frames.cpp LIBS tallyport_core)
tallyport_add_test(test_reader_link link/tst_reader_link.cpp LIBS tallyport_core)
tallyport_add_test(test_detection link/tst_detection.cpp LIBS tallyport_core)
# The port list's entries, who holds a port, and the watch on the ports.
tallyport_add_test(test_ports link/tst_ports.cpp LIBS tallyport_core)
add_dependencies(test_ports tallyport-readersim)
