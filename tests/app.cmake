tallyport_add_test(test_window app/test_window.cpp LIBS tallyport_app)
