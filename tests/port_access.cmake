# Why a port did not open, told by the real program run as an ordinary user.
tallyport_add_test(test_port_access app/test_port_access.cpp LIBS Qt6::SerialPort)
add_dependencies(test_port_access tallyport)
