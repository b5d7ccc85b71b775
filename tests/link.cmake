tallyport_add_test(test_frames link/test_frames.cpp LIBS tallyport_core)
tallyport_add_test(test_reader_link link/test_reader_link.cpp LIBS tallyport_core)
tallyport_add_test(test_detection link/test_detection.cpp LIBS tallyport_core)
# The port list's entries, who holds a port, and the watch on the ports.
tallyport_add_test(test_ports link/test_ports.cpp LIBS tallyport_core)
add_dependencies(test_ports tallyport-readersim)
