# Start-up time as the menu starts the program, under Xvfb with openbox:
#   <build>/bench/startup_bench [--runs N] [--desktop-entry FILE]
add_executable(startup_bench ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp)
target_link_libraries(startup_bench PRIVATE kit_xsession)
target_compile_definitions(startup_bench PRIVATE TALLYPORT_SOURCE="${CMAKE_SOURCE_DIR}")
set_target_properties(startup_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
