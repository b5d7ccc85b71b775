# The card log.
tallyport_add_test(test_card_log output/tst_card_log.cpp LIBS tallyport_core)
