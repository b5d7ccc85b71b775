# The settings layer: the settings file, the autostart entry, the export file name.
tallyport_add_test(settings_store_test settings/tst_settings_store.cpp LIBS tallyport_core)
tallyport_add_test(settings_files_test settings/tst_settings_files.cpp LIBS tallyport_core)
tallyport_add_test(settings_kill_test settings/tst_settings_kill.cpp LIBS tallyport_core)
