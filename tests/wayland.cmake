# Typing on Wayland: the virtual keyboard on a headless sway with foot
# receiving the keys.

tallyport_add_test(wayland_keyboard wayland/tst_waylandkeyboard.cpp
  LIBS tallyport_wayland kit_sway)

# The real program on sway: a card from the simulated reader into foot.
tallyport_add_test(wayland_program wayland/tst_wayland_program.cpp LIBS kit_sway)
add_dependencies(wayland_program tallyport tallyport-readersim)
