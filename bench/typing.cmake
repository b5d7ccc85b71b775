# Typing a card number into an X client under Xvfb, beside xdotool:
#   <build>/bench/typing_bench [--runs N] [--no-wm]
# Uses the Xvfb session kit of the keyboard tests (tests/keyboard.cmake).
add_executable(typing_bench ${CMAKE_CURRENT_LIST_DIR}/typing_bench.cpp)
target_link_libraries(typing_bench PRIVATE tallyport_x11 kit_xsession)
set_target_properties(typing_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# The whole road of a card through the real program:
#   <build>/bench/card_bench [--cards N] [--cpu-seconds S]
add_executable(card_bench ${CMAKE_CURRENT_LIST_DIR}/card_bench.cpp)
target_link_libraries(card_bench PRIVATE Qt6::Core kit_xsession)
set_target_properties(card_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_dependencies(card_bench tallyport tallyport-readersim)

# The window's answer time while the reader is slow, through _NET_WM_PING:
#   <build>/bench/responsiveness_bench [--program PATH]
add_executable(responsiveness_bench ${CMAKE_CURRENT_LIST_DIR}/responsiveness_bench.cpp)
target_link_libraries(responsiveness_bench PRIVATE Qt6::Core kit_xsession)
set_target_properties(responsiveness_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_dependencies(responsiveness_bench tallyport tallyport-readersim)
