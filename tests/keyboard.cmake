# Typing card numbers: the order of the steps (over the recording keyboard), the X11 keyboard end to end
# under a private Xvfb with real X clients receiving the keys, and a compile
# check of the Windows keyboard with the mingw-w64 cross compiler.

# The X client that receives keys like an ordinary application and reports them.
add_executable(keyboard_key_recorder keyboard/key_recorder.cpp)
target_link_libraries(keyboard_key_recorder PRIVATE ${X11_LIBRARIES})
set_target_properties(keyboard_key_recorder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TESTS_BIN})

# Xvfb, openbox and the receiving clients; shared with bench/typing.cmake.
add_library(keyboard_xsession STATIC keyboard/XSession.cpp)
target_include_directories(keyboard_xsession PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(keyboard_xsession PRIVATE
  TALLYPORT_KEY_RECORDER="$<TARGET_FILE:keyboard_key_recorder>")
target_link_libraries(keyboard_xsession PUBLIC ${X11_LIBRARIES})
add_dependencies(keyboard_xsession keyboard_key_recorder)

tallyport_add_test(keyboard_keymap_plan keyboard/tst_keymapplan.cpp LIBS tallyport_x11)
tallyport_add_test(keyboard_typecard keyboard/tst_typecard.cpp support/RecordingKeyboard.cpp
  LIBS tallyport_typing)
tallyport_add_test(keyboard_x11_wm keyboard/tst_x11keyboard_wm.cpp
  LIBS tallyport_x11 keyboard_xsession)
tallyport_add_test(keyboard_x11_nowm keyboard/tst_x11keyboard_nowm.cpp
  LIBS tallyport_x11 keyboard_xsession)
tallyport_add_test(keyboard_x11_failures keyboard/tst_x11keyboard_failures.cpp
  LIBS tallyport_x11 keyboard_xsession)

# The Qt-free Windows sources are never part of the Linux build; this keeps
# them compiling for 32-bit Windows (scripts/test-windows runs the 64-bit
# build under Wine).
add_test(NAME keyboard_windows_compile
  COMMAND sh -c "command -v i686-w64-mingw32-g++ >/dev/null || { echo 'i686-w64-mingw32-g++ is not installed (scripts/install installs g++-mingw-w64-i686)' >&2; exit 1; }; src=$1; out=$2; shift 2; for f; do i686-w64-mingw32-g++ -std=c++17 -Wall -Wextra -Werror -I\"$src\" -c \"$src/$f\" -o \"$out/$(basename $f .cpp).obj\" || exit 1; done"
    keyboard_windows_compile ${CMAKE_SOURCE_DIR}/src ${CMAKE_CURRENT_BINARY_DIR} ${TALLYPORT_WINDOWS_QT_FREE} output/TypeCard.cpp)
