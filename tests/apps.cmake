# Real applications receiving cards from the real program: a web form in
# Chromium on X11, a GTK3 entry on a headless sway.
tallyport_add_test(apps_chromium_x11 apps/tst_chromium_x11.cpp LIBS keyboard_xsession)
add_dependencies(apps_chromium_x11 tallyport tallyport-readersim)
