# Typing a card number into an X client under Xvfb, beside xdotool:
#   <build>/bench/typing_bench [--runs N] [--no-wm]
# Uses the Xvfb session kit of the keyboard tests (tests/keyboard.cmake).
add_executable(typing_bench ${CMAKE_CURRENT_LIST_DIR}/typing_bench.cpp)
target_link_libraries(typing_bench PRIVATE tallyport_x11 keyboard_xsession)
set_target_properties(typing_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
