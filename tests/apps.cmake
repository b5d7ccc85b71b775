# Real applications receiving cards from the real program: a web form in
# Chromium on X11, a GTK3 entry on a headless sway.
tallyport_add_test(apps_chromium_x11 apps/tst_chromium_x11.cpp LIBS keyboard_xsession)
add_dependencies(apps_chromium_x11 tallyport tallyport-readersim)
tallyport_add_test(apps_gtk_wayland apps/tst_gtk_wayland.cpp LIBS wayland_session)
add_dependencies(apps_gtk_wayland tallyport tallyport-readersim)

# A Qt line edit that reports what was typed into it, like gtk_entry.py.
add_executable(qt_entry apps/qt_entry.cpp)
target_link_libraries(qt_entry PRIVATE Qt6::Widgets)
set_target_properties(qt_entry PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TESTS_BIN})
# Cards past a Chinese input method (IBus, fcitx5) into GTK, Qt and xterm.
tallyport_add_test(apps_input_methods apps/tst_input_methods.cpp LIBS keyboard_xsession)
add_dependencies(apps_input_methods tallyport tallyport-readersim qt_entry)
# Cards past fcitx5 serving a headless sway as its input method.
tallyport_add_test(apps_input_method_sway apps/tst_input_method_sway.cpp LIBS wayland_session)
add_dependencies(apps_input_method_sway tallyport tallyport-readersim)
