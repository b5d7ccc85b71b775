# The real desktops (scripts/test-desktops, outside ctest: each run starts a
# whole headless GNOME or KDE Plasma session): the window that receives the
# cards on KDE Plasma.
add_executable(desktop_keysink desktops/keysink.cpp)
target_link_libraries(desktop_keysink PRIVATE Qt6::Gui)
set_target_properties(desktop_keysink PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TESTS_BIN})
