tallyport_add_test(test_soak soak/tst_soak.cpp LIBS kit_xsession)
add_dependencies(test_soak tallyport tallyport-readersim)
set_tests_properties(test_soak PROPERTIES TIMEOUT 3600)
