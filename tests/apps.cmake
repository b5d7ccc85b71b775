# Real applications receiving cards from the real program: a web form in
# Chromium on X11, a GTK3 entry on a headless sway.
tallyport_add_test(apps_chromium_x11 apps/tst_chromium_x11.cpp LIBS keyboard_xsession)
add_dependencies(apps_chromium_x11 tallyport tallyport-readersim)
tallyport_add_test(apps_gtk_wayland apps/tst_gtk_wayland.cpp LIBS wayland_session)
add_dependencies(apps_gtk_wayland tallyport tallyport-readersim)
