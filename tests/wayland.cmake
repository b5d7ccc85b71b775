# Typing on Wayland: the virtual keyboard on a headless sway with foot
# receiving the keys.

# sway as a private compositor and foot as the receiving client; shared with
# the typing benchmark.
add_library(wayland_session STATIC wayland/SwaySession.cpp)
target_include_directories(wayland_session PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wayland_session PUBLIC Qt6::Core)

tallyport_add_test(wayland_keyboard wayland/tst_waylandkeyboard.cpp
  LIBS tallyport_wayland wayland_session)

# The real program on sway: a card from the simulated reader into foot.
tallyport_add_test(wayland_program wayland/tst_wayland_program.cpp LIBS wayland_session)
add_dependencies(wayland_program tallyport tallyport-readersim)
