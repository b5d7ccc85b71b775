# The sources only the Windows program builds, one a line, from src/. The
# build (src/CMakeLists.txt), the compile check in tests/keyboard.cmake and
# scripts/test-windows all read these two lists, so a new Windows source is
# named here once.

# No Qt: they also build with a bare mingw-w64 and run under Wine.
set(TALLYPORT_WINDOWS_QT_FREE
  link/windows/WinPorts.cpp
  link/windows/WinSerialPort.cpp
  output/windows/WinImeSwitch.cpp
  output/windows/WinKeyboard.cpp
  settings/windows/WinSettings.cpp
)

# With Qt: built for Windows, and compiled on Linux as well (they must keep
# up with the settings record).
set(TALLYPORT_WINDOWS_QT
  settings/windows/RegistryStore.cpp
  settings/windows/RunEntryAutostart.cpp
  settings/windows/WinSettingsStore.cpp
)
