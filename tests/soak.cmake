tallyport_add_test(test_soak soak/test_soak.cpp LIBS keyboard_xsession)
add_dependencies(test_soak tallyport tallyport-readersim)
set_tests_properties(test_soak PROPERTIES TIMEOUT 3600)
