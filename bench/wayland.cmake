# Typing a card number into foot on a headless sway, beside wtype:
#   <build>/bench/wayland_typing_bench [--runs N]
# Uses the sway session kit of the Wayland tests (tests/wayland.cmake).
add_executable(wayland_typing_bench ${CMAKE_CURRENT_LIST_DIR}/wayland_typing_bench.cpp)
target_link_libraries(wayland_typing_bench PRIVATE tallyport_wayland kit_sway)
set_target_properties(wayland_typing_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
