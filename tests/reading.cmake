# The reader's thread: card numbers in each send format, the polling cycle.
tallyport_add_test(test_card_numbers reading/tst_card_numbers.cpp LIBS tallyport_core)
tallyport_add_test(test_polling reading/tst_polling.cpp LIBS tallyport_core)
set_tests_properties(test_polling PROPERTIES TIMEOUT 600)
