# Real applications receiving cards from the real program: a web form in
# Chromium on X11, a GTK3 entry on a headless sway.
tallyport_add_test(clients_chromium_x11 clients/tst_chromium_x11.cpp LIBS kit_xsession)
add_dependencies(clients_chromium_x11 tallyport tallyport-readersim)
tallyport_add_test(clients_gtk_wayland clients/tst_gtk_wayland.cpp LIBS kit_sway)
add_dependencies(clients_gtk_wayland tallyport tallyport-readersim)

# A Qt line edit that reports what was typed into it, like gtk_entry.py.
add_executable(qt_entry clients/qt_entry.cpp)
target_link_libraries(qt_entry PRIVATE Qt6::Widgets)
set_target_properties(qt_entry PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TESTS_BIN})
# Cards past a Chinese input method (IBus, fcitx5) into GTK, Qt and xterm.
tallyport_add_test(clients_input_methods clients/tst_input_methods.cpp LIBS kit_xsession)
add_dependencies(clients_input_methods tallyport tallyport-readersim qt_entry)
# Cards past fcitx5 serving a headless sway as its input method.
tallyport_add_test(clients_input_method_sway clients/tst_input_method_sway.cpp LIBS kit_sway)
add_dependencies(clients_input_method_sway tallyport tallyport-readersim)
