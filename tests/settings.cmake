# The settings layer: the settings file, the autostart entry, the export file name.
tallyport_add_test(settings_store_test settings/SettingsStoreTest.cpp LIBS tallyport_core)
tallyport_add_test(settings_files_test settings/SettingsFilesTest.cpp LIBS tallyport_core)
tallyport_add_test(settings_kill_test settings/SettingsKillTest.cpp LIBS tallyport_core)
