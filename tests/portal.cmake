# Typing through the desktop portal: the portal output against a stand-in
# portal of ours on a private session bus.
add_executable(portal_standin portal/portal_standin.cpp)
target_link_libraries(portal_standin PRIVATE Qt6::Core Qt6::DBus)
set_target_properties(portal_standin PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TESTS_BIN})

tallyport_add_test(portal_keyboard portal/tst_portalkeyboard.cpp LIBS tallyport_portal Qt6::DBus)
add_dependencies(portal_keyboard portal_standin)

# The real program on sway typing through the stand-in portal.
tallyport_add_test(portal_program portal/tst_portal_program.cpp LIBS kit_sway)
add_dependencies(portal_program tallyport tallyport-readersim portal_standin)
