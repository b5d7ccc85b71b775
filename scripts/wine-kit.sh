# Shared by the scripts that run Windows code under Wine (test-windows, and
# test-windows-program and test-windows-msi with the installed program); sourced, after setting `kit_name`
# (the script's name in messages). It gives:
#   $out        a temporary folder, removed at the end with everything started
#   pids        processes to end at the end (add with pids+=(PID))
#   fail TEXT   says TEXT, shows the program's logs ($out/run*.log), exits 1
#   step TEXT   says TEXT with the seconds since the start
#   waitFor S COMMAND...   waits up to S seconds for COMMAND to succeed
#   startDisplay  an Xvfb display, and the Wine settings of a fresh 64-bit
#               prefix ($WINEPREFIX), created by the first wine command
#   startWine   startDisplay, the prefix created, and
#               $out/wine_target.exe (tests/windows/wine_target.cpp)
#   startReader COMn   the simulated reader (build/tallyport-readersim, type
#               A, ID 01) behind COMn; commands go to it with `echo ... >&7`
#   target ARGS...     runs wine_target.exe; targetHolds TEXT: its EDIT
#               control holds exactly TEXT
#   typeCard CARD TEXT   presents CARD and expects TEXT in the target
#   startProgram RUN LANGUAGE   starts $installed/tallyport.exe (log
#               $out/runRUN.log, process $program) and waits for its connect
#               in that language (0 to 2); exitProgram: Alt+X, and it ends
#   bringBack RUN   a second start, which brings the first copy's window back
#               (from the tray) and leaves one copy running
# Wine's exit statuses are the Windows ones modulo 256 (1603 is 67).

readersim=${TALLYPORT_BUILD_DIR:-build}/tallyport-readersim
[ -x "$readersim" ] || { echo "$kit_name: $readersim is missing; run scripts/build" >&2; exit 1; }
out=$(mktemp -d "/tmp/tallyport-$kit_name.XXXXXX")
pids=()
cleanup() {
  exec 7>&- 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -d "$out/prefix" ] && WINEPREFIX="$out/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT
fail() {
  echo "$kit_name: $*" >&2
  for f in "$out"/run*.log; do [ -f "$f" ] && sed "s|^|  $(basename "$f"): |" "$f" >&2; done
  exit 1
}
waitFor() {
  local seconds=$1; shift
  for _ in $(seq $((seconds * 10))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
kit_start=$(date +%s)
step() { echo "$kit_name: $(( $(date +%s) - kit_start )) s: $*" >&2; }

# A display of our own (Xvfb picks a free number) and Wine's settings for a
# fresh 64-bit prefix in $out/prefix, which the first wine command creates.
# No browser or .NET runtime for the prefix: nothing here needs them, and
# their installers would ask.
startDisplay() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$out/display" >/dev/null 2>&1 &
  pids+=($!)
  waitFor 10 test -s "$out/display" || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$out/display")"
  export WINEPREFIX="$out/prefix" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
}

startWine() {
  x86_64-w64-mingw32-g++ -std=c++17 -O1 -Wall -Wextra -Werror -static tests/windows/wine_target.cpp \
    -o "$out/wine_target.exe" -luser32
  startDisplay
  wineboot -i >"$out/wineboot.log" 2>&1 || fail "wineboot failed"
  users=$WINEPREFIX/drive_c/users/$(id -un)
  step "Wine prefix ready"
}

startReader() {
  mkfifo "$out/sim.in"
  "$readersim" --type A --id 01 --link "$out/reader" <"$out/sim.in" >"$out/sim.out" 2>&1 &
  pids+=($!)
  exec 7>"$out/sim.in"
  waitFor 10 test -L "$out/reader" || fail "the simulated reader did not start"
  ln -sfn "$(readlink "$out/reader")" "$WINEPREFIX/dosdevices/${1,,}"
}

target() { wine "$out/wine_target.exe" "$@" 2>/dev/null | tr -d '\r'; }
targetHolds() { [ "$(target text)" = "'$1'" ]; }
typeCard() {
  target clear
  waitFor 10 targetHolds "" || fail "the target did not clear"
  echo "card $1" >&7
  waitFor 15 targetHolds "$2" || fail "typed $(target text), expected '$2'"
  echo remove >&7
}

program=
# "Connect reader ok." in the three languages, by the Language value.
connected=("Connect reader ok." "连线读卡机完成." "連線讀卡機完成.")
startProgram() {
  wine "$installed/tallyport.exe" --verbose >"$out/run$1.log" 2>&1 &
  program=$!
  pids+=("$program")
  waitFor 60 grep -qF "${connected[$2]}" "$out/run$1.log" || fail "run $1: no \"${connected[$2]}\""
}
exitProgram() {
  target alt x Tallyport || fail "no Tallyport window"
  waitFor 20 sh -c "! kill -0 $program 2>/dev/null" || fail "Exit did not end the program"
}
bringBack() {
  timeout 60 wine "$installed/tallyport.exe" >"$out/second$1.log" 2>&1 || fail "run $1: the second start failed"
  waitFor 20 sh -c '[ "$(wine "$0" count Tallyport 2>/dev/null | tr -d "\r")" = 1 ]' "$out/wine_target.exe" \
    || fail "run $1: $(target count Tallyport) Tallyport windows after a second start"
}
