# The simulated reader, driven through its pseudo-terminal.
tallyport_add_test(tst_readersim ${CMAKE_CURRENT_LIST_DIR}/readersim/tst_readersim.cpp
  LIBS tallyport_frames)
add_dependencies(tst_readersim tallyport-readersim)
