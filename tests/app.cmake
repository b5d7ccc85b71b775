tallyport_add_test(test_window app/test_window.cpp LIBS tallyport_app)
tallyport_add_test(test_lifecycle app/test_lifecycle.cpp)
add_dependencies(test_lifecycle tallyport tallyport-readersim)
