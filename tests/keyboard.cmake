# Typing card numbers: the order of the steps (over the recording keyboard), the X11 keyboard end to end
# under a private Xvfb with real X clients receiving the keys, and a compile
# check of the Windows keyboard with the mingw-w64 cross compiler.

tallyport_add_test(keyboard_keymap_plan keyboard/tst_keymapplan.cpp LIBS tallyport_x11)
tallyport_add_test(keyboard_typecard keyboard/tst_typecard.cpp support/RecordingKeyboard.cpp
  LIBS tallyport_typing)
tallyport_add_test(keyboard_x11_wm keyboard/tst_x11keyboard_wm.cpp
  LIBS tallyport_x11 kit_xsession)
tallyport_add_test(keyboard_x11_nowm keyboard/tst_x11keyboard_nowm.cpp
  LIBS tallyport_x11 kit_xsession)
tallyport_add_test(keyboard_x11_failures keyboard/tst_x11keyboard_failures.cpp
  LIBS tallyport_x11 kit_xsession)

# The Qt-free Windows sources are never part of the Linux build; this keeps
# them, and the shared pieces they are tested with, compiling for 32-bit
# Windows (scripts/test-windows builds them for 64-bit and runs them under Wine).
add_test(NAME keyboard_windows_compile
  COMMAND sh -c "command -v i686-w64-mingw32-g++ >/dev/null || { echo 'i686-w64-mingw32-g++ is not installed (scripts/install installs g++-mingw-w64-i686)' >&2; exit 1; }; src=$1; out=$2; shift 2; for f; do i686-w64-mingw32-g++ -std=c++17 -Wall -Wextra -Werror -I\"$src\" -c \"$src/$f\" -o \"$out/$(basename $f .cpp).obj\" || exit 1; done"
    keyboard_windows_compile ${CMAKE_SOURCE_DIR}/src ${CMAKE_CURRENT_BINARY_DIR} ${TALLYPORT_WINDOWS_QT_FREE} output/TypeCard.cpp link/Frames.cpp)
