tallyport_add_test(test_polling reading/test_polling.cpp LIBS tallyport_core)
set_tests_properties(test_polling PROPERTIES TIMEOUT 600)
