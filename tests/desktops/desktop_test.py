#!/usr/bin/python3
"""Tallyport typing through the real desktop portal on real desktops.

Each run starts a fresh headless desktop as the calling (unprivileged) user,
on private buses: GNOME (mutter with xdg-desktop-portal-gnome) or KDE Plasma
(KWin with xdg-desktop-portal-kde), both behind the real xdg-desktop-portal.
The real program reads cards from the simulated reader and types them into a
real Wayland client, which writes what it receives to a file.

    desktop_test.py gnome|kde BUILD_DIR [layout ...]

Prints one line per check and a summary; exits 1 when a check failed.
Helper roles of the same file (started by the test itself):
    desktop_test.py locale1 LAYOUT    mutter's keyboard layout on its system bus
    desktop_test.py answer share|cancel   answers GNOME's dialog through AT-SPI
    desktop_test.py holdkeyboard gnome|kde
                                      keeps a keyboard for the session
    desktop_test.py sink FILE         raw terminal input to FILE (inside foot)
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PORTAL_TIMEOUT = 30
MARK = "z"  # typed by the test itself to see that a client has the focus
LAYOUT_KEYS = (16, 21)  # evdev KEY_Q, KEY_Y
LAYOUT_TEXT = {"us": "qy", "fr": "ay", "de": "qz"}
RUNTIME = None  # the session's folder


def log(text):
    print(f"desktop-test: {text}", flush=True)


# ---------------------------------------------------------------- helper roles

def serve_locale1(layout):
    """org.freedesktop.locale1 with X11Layout: mutter's own plugin takes its
    keymap from there (gnome-shell would take it from its settings)."""
    from gi.repository import Gio, GLib
    xml = """<node><interface name="org.freedesktop.locale1">
      <property name="X11Layout" type="s" access="read"/>
      <property name="X11Variant" type="s" access="read"/>
      <property name="X11Options" type="s" access="read"/>
      <property name="X11Model" type="s" access="read"/>
    </interface></node>"""
    values = {"X11Layout": layout, "X11Variant": "", "X11Options": "", "X11Model": ""}
    bus = Gio.bus_get_sync(Gio.BusType.SYSTEM, None)
    info = Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0]
    bus.register_object("/org/freedesktop/locale1", info, None,
                        lambda connection, sender, path, interface, name: GLib.Variant("s", values[name]), None)
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.locale1", 0, None, None)
    GLib.MainLoop().run()


def mutter_keyboard():
    """Headless mutter has no keyboard until a remote-desktop session makes
    one; keys sent before that are lost. Returns a function that presses or
    releases a key through such a session."""
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    for _ in range(100):
        try:
            path = bus.call_sync("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                                 "org.gnome.Mutter.RemoteDesktop", "CreateSession", None,
                                 GLib.VariantType("(o)"), 0, 2000, None).unpack()[0]
            break
        except GLib.Error:
            time.sleep(0.1)
    else:
        sys.exit("no org.gnome.Mutter.RemoteDesktop")
    session = "org.gnome.Mutter.RemoteDesktop.Session"
    bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, session, "Start", None, None, 0, 5000, None)
    return lambda method, value, pressed: bus.call_sync(
        "org.gnome.Mutter.RemoteDesktop", path, session, method, GLib.Variant("(ub)", (value, pressed)), None, 0,
        2000, None)


def portal_keyboard():
    """KWin has no keyboard either until an input device comes; a portal
    session of the test's own makes one (KDE does not ask). Returns a
    function that presses or releases a key through it."""
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    sender = bus.get_unique_name()[1:].replace(".", "_")
    loop = GLib.MainLoop()
    answers = []

    def request(method, args, options, n):
        token = f"probe{n}"
        path = f"/org/freedesktop/portal/desktop/request/{sender}/{token}"
        bus.signal_subscribe(None, "org.freedesktop.portal.Request", "Response", path, None, 0,
                             lambda *a: (answers.append(a[5].unpack()), loop.quit()))
        options["handle_token"] = GLib.Variant("s", token)
        signature = "(" + "".join(v.get_type_string() for v in args) + "a{sv})"
        bus.call_sync("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                      "org.freedesktop.portal.RemoteDesktop", method,
                      GLib.Variant(signature, tuple(v.unpack() if v.get_type_string() != "o" else v.get_string()
                                                    for v in args) + (options,)), None, 0, 10000, None)
        GLib.timeout_add(PORTAL_TIMEOUT * 1000, loop.quit)
        loop.run()
        return answers[-1][1]

    session = request("CreateSession", [], {"session_handle_token": GLib.Variant("s", "probe")}, 1)[
        "session_handle"]
    handle = GLib.Variant("o", session)
    request("SelectDevices", [handle], {"types": GLib.Variant("u", 1)}, 2)
    request("Start", [handle, GLib.Variant("s", "")], {}, 3)
    return lambda method, value, pressed: bus.call_sync(
        "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.portal.RemoteDesktop",
        method, GLib.Variant("(oa{sv}iu)", (session, {}, value, 1 if pressed else 0)), None, 0, 2000, None)


def hold_keyboard(desktop):
    """A keyboard that stays for the whole session, as a real desktop has
    one: without it the desktop's seat has no keyboard between the test's
    keys, and a window activated then is never told that it lost the focus.
    Types a key when asked on standard input ("key KEYSYM" or "code
    EVDEV_CODE"): the test uses it to see the layout and that a client has
    the focus."""
    press = mutter_keyboard() if desktop == "gnome" else portal_keyboard()
    print("held", flush=True)
    for line in sys.stdin:
        kind, value = line.split()
        method = "NotifyKeyboardKeysym" if kind == "key" else "NotifyKeyboardKeycode"
        for pressed in (True, False):
            press(method, int(value), pressed)
        print("typed", flush=True)


def answer_dialog(choice):
    """Finds the portal's remote-desktop dialog on the accessibility bus,
    switches on remote interaction and presses Share (or Cancel)."""
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi

    def walk(node, depth=0):
        if node is None or depth > 30:
            return
        yield node
        for i in range(node.get_child_count()):
            yield from walk(node.get_child_at_index(i), depth + 1)

    def act(node):
        for i in range(node.get_n_actions()):
            if node.get_action_name(i) in ("click", "press", "activate", "toggle"):
                return node.do_action(i)
        return node.do_action(0)

    def showing(node):
        try:
            states = node.get_state_set()
            return states.contains(Atspi.StateType.SHOWING) and not states.contains(Atspi.StateType.DEFUNCT)
        except Exception:
            return False  # gone

    def dialogs():
        """The portal's windows on screen now; a closed one may linger in
        the tree for a while, not showing."""
        desktop = Atspi.get_desktop(0)
        for a in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(a)
            if app is None or "portal" not in (app.get_name() or ""):
                continue
            for w in range(app.get_child_count()):
                window = app.get_child_at_index(w)
                if window is not None and showing(window):
                    yield window

    target = "Share" if choice == "share" else "Cancel"
    deadline = time.time() + PORTAL_TIMEOUT
    while time.time() < deadline:
        for window in dialogs():
            # GTK names a button by its mnemonic and its label: "_Share Share".
            buttons = {n.get_name().split()[-1]: n for n in walk(window) if n.get_name() and
                       n.get_role_name() in ("push button", "toggle button", "check box")}
            if target not in buttons:
                continue
            switch = buttons.get("interaction")  # "Allow remote interaction"
            if choice == "share" and switch and not switch.get_state_set().contains(Atspi.StateType.CHECKED):
                act(switch)
                time.sleep(0.3)
            act(buttons[target])
            gone = time.time() + 3
            while showing(window) and time.time() < gone:
                time.sleep(0.1)
            if not showing(window):
                print(f"answered {target}", flush=True)
                return
        time.sleep(0.3)
    sys.exit("no remote-desktop dialog on the accessibility bus, or it would not close")


def raw_sink(path):
    """Inside foot: the terminal in raw mode, every byte typed written to
    `path` as it comes, and when each card began and ended to path.times."""
    import termios
    import tty
    tty.setraw(0)
    attrs = termios.tcgetattr(0)
    attrs[3] &= ~termios.ECHO
    termios.tcsetattr(0, termios.TCSANOW, attrs)
    with open(path, "ab", buffering=0) as out, open(path + ".times", "a", buffering=1) as times:
        start = None
        while True:
            data = os.read(0, 4096)
            if not data:
                return
            now = time.monotonic()
            if start is None and data.strip(MARK.encode()):  # the test's own marks do not count
                start = now
            out.write(data)
            if b"\r" in data and start is not None:
                times.write(f"{(now - start) * 1000:.1f}\n")
                start = None


# ---------------------------------------------------------------- the session

class Session:
    def __init__(self, desktop, layout, build):
        self.desktop, self.layout, self.build = desktop, layout, build
        self.dir = tempfile.mkdtemp(prefix=f"tallyport-{desktop}-")
        self.processes = []
        for sub in ("home", "config", "data", "cache"):
            os.makedirs(os.path.join(self.dir, sub))
        self.env = {
            "PATH": "/usr/bin:/bin:/usr/libexec",
            "HOME": self.path("home"), "XDG_CONFIG_HOME": self.path("config"),
            "XDG_DATA_HOME": self.path("data"), "XDG_CACHE_HOME": self.path("cache"),
            "XDG_RUNTIME_DIR": self.dir, "WAYLAND_DISPLAY": "wayland-tp", "XDG_SESSION_TYPE": "wayland",
            "DBUS_SESSION_BUS_ADDRESS": f"unix:path={self.path('bus')}",
            "LANG": "C.UTF-8", "XKB_DEFAULT_LAYOUT": layout,
        }
        if desktop == "gnome":
            self.env.update({"XDG_CURRENT_DESKTOP": "GNOME", "GSK_RENDERER": "cairo",
                             "GSETTINGS_BACKEND": "keyfile", "GTK_A11Y": "atspi",
                             "DBUS_SYSTEM_BUS_ADDRESS": f"unix:path={self.path('systembus')}"})
        else:
            self.env.update({"XDG_CURRENT_DESKTOP": "KDE", "KDE_FULL_SESSION": "true",
                             "QT_QPA_PLATFORM": "wayland"})
            with open(self.path("config/kxkbrc"), "w") as f:
                f.write(f"[Layout]\nLayoutList={layout}\nUse=true\n")

    def path(self, name):
        return os.path.join(self.dir, name)

    def spawn(self, argv, log_name=None, env=None, **kw):
        out = open(self.path(log_name or os.path.basename(argv[0]) + ".log"), "ab")
        p = subprocess.Popen(argv, env=env or self.env, stdout=kw.pop("stdout", out), stderr=out,
                             start_new_session=True, **kw)
        self.processes.append(p)
        return p

    def wait_for(self, what, test, timeout=PORTAL_TIMEOUT):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if test():
                return True
            time.sleep(0.05)
        raise RuntimeError(f"{self.desktop}: {what} did not come within {timeout} s")

    def bus_has(self, name):
        r = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                            "org.freedesktop.DBus.GetNameOwner", f"string:{name}"],
                           env=self.env, capture_output=True)
        return r.returncode == 0

    def start(self):
        self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                    f"--address={self.env['DBUS_SESSION_BUS_ADDRESS']}"], "bus.log")
        self.wait_for("the session bus", lambda: os.path.exists(self.path("bus")))
        me = os.path.abspath(__file__)
        if self.desktop == "gnome":
            self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                        f"--address=unix:path={self.path('systembus')}"], "systembus.log")
            self.wait_for("the system bus", lambda: os.path.exists(self.path("systembus")))
            self.spawn(["/usr/bin/python3", me, "locale1", self.layout])
            time.sleep(0.5)
            self.spawn(["mutter", "--headless", "--wayland", "--no-x11", "--virtual-monitor", "1280x800",
                        "--wayland-display", "wayland-tp"])
            self.wait_for("mutter", lambda: os.path.exists(self.path("wayland-tp")))
            self.hold_keyboard()
            self.spawn(["/usr/libexec/xdg-desktop-portal-gnome", "--replace"])
            self.wait_for("xdg-desktop-portal-gnome",
                          lambda: self.bus_has("org.freedesktop.impl.portal.desktop.gnome"))
        else:
            # The installed binary carries a file capability this machine's
            # bounding set lacks; a plain copy runs.
            kwin = self.path("kwin_wayland")
            subprocess.run(["cp", "/usr/bin/kwin_wayland", kwin], check=True)
            self.spawn([kwin, "--virtual", "--no-lockscreen", "--no-global-shortcuts", "--socket",
                        "wayland-tp", "--width", "1280", "--height", "800"], "kwin.log")
            self.wait_for("kwin", lambda: os.path.exists(self.path("wayland-tp")))
            self.spawn(["/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde"])
            self.wait_for("xdg-desktop-portal-kde",
                          lambda: self.bus_has("org.freedesktop.impl.portal.desktop.kde"))
        self.spawn(["/usr/libexec/xdg-desktop-portal", "--replace"])
        self.wait_for("xdg-desktop-portal", lambda: self.bus_has("org.freedesktop.portal.Desktop"))
        if self.desktop == "kde":
            self.hold_keyboard()  # through the portal

    def hold_keyboard(self):
        self.holder = self.spawn(["/usr/bin/python3", os.path.abspath(__file__), "holdkeyboard", self.desktop],
                                 "holdkeyboard.log", stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if self.holder.stdout.readline().strip() != b"held":
            raise RuntimeError(f"{self.desktop}: no keyboard for the session")

    def type_key(self, kind, value):
        """Types a key ("key" KEYSYM or "code" EVDEV_CODE) on the session's keyboard."""
        self.holder.stdin.write(b"%s %d\n" % (kind.encode(), value))
        self.holder.stdin.flush()
        self.holder.stdout.readline()

    def end(self, p):
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGTERM)
        p.wait(5)

    def stop(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for p in reversed(self.processes):
            try:
                p.wait(3)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
        self.processes = []

    # ------------------------------------------------------------ the clients

    def start_sink(self, name):
        """A real Wayland client that takes the focus and writes down what it
        receives: foot running a raw terminal on GNOME, our Qt sink on KDE
        (foot fails on KWin's virtual output here)."""
        out = self.path(name)
        if self.desktop == "gnome":
            p = self.spawn(["foot", "-a", name, "/usr/bin/python3", os.path.abspath(__file__), "sink", out],
                           f"{name}.foot.log")
            self.wait_for(f"the client {name}", lambda: os.path.exists(out + ".times"))
            self.wait_focus(out)
            return p, out
        # KWin gives the focus to each new window, so the program's window,
        # mapped a moment after it started, may take it from the client; a
        # client started after that keeps it.
        for _ in range(3):
            p = self.spawn([os.path.join(self.build, "tests", "desktop_keysink"), out], f"{name}.sink.log")
            self.wait_for(f"the client {name}", lambda: os.path.exists(out + ".times"))
            self.wait_focus(out)
            time.sleep(1)
            if read(out + ".focus").endswith("1"):
                return p, out
            log(f"{self.desktop}: a later window took the focus from the client {name}; a new client")
            self.end(p)
        raise RuntimeError(f"{self.desktop}: the client {name} kept losing the focus")

    def check_layout(self, run):
        """The keys Q and Y of a real keyboard, as the client gets them, show
        the layout the desktop uses: "qy" (us), "ay" (fr), "qz" (de)."""
        sink, out = self.start_sink("layout")
        for code in LAYOUT_KEYS:
            self.type_key("code", code)
        time.sleep(0.5)
        got = received(out)
        run.check(f"{self.layout}: the desktop types with the {self.layout} layout", got == LAYOUT_TEXT[self.layout],
                  f"keys Q Y gave {got!r}")
        self.end(sink)

    def wait_focus(self, out):
        """Types MARK on the session's keyboard until the client shows it has
        the focus."""
        deadline = time.time() + 15
        while time.time() < deadline:
            self.type_key("key", ord(MARK))
            time.sleep(0.3)
            if MARK in read(out):
                return
        raise RuntimeError(f"{self.desktop}: the client never had the focus")


class Program:
    """One run of tallyport with its own settings file."""

    def __init__(self, session, name, cards_format=0, comma=True, enter=True, keyboard="portal"):
        self.session = session
        self.reader = session.spawn([os.path.join(session.build, "tallyport-readersim"), "--type", "C", "--id",
                                     "07", "--period", "450", "--gap", "250"], f"{name}.reader.log",
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        port = self.reader.stdout.readline().decode().strip()
        self.settings = session.path(f"{name}.conf")
        self.cardlog = session.path(f"{name}.cards.txt")
        with open(self.settings, "w") as f:
            f.write("[General]\n"
                    f"CommName={port}\nReaderType=2\nReaderID=7\nSameCardTime=60\nSendFormat={cards_format}\n"
                    f"AddDown={'-1' if comma else '0'}\nAddReturn={'-1' if enter else '0'}\n"
                    f"SaveToFile=-1\nExportFile={self.cardlog}\n")
        self.errors = session.path(f"{name}.stderr")
        args = [os.path.join(session.build, "tallyport"), "--settings", self.settings, "--verbose"]
        if keyboard:
            args += ["--keyboard", keyboard]
        env = dict(session.env)
        env["QT_QPA_PLATFORM"] = "wayland"
        self.process = session.spawn(args, f"{name}.stderr", env=env)

    def seen(self):
        with open(self.errors, errors="replace") as f:
            return f.read()

    def wait_line(self, text, timeout=PORTAL_TIMEOUT):
        self.session.wait_for(f"'{text}'", lambda: text in self.seen(), timeout)

    def present(self, cards):
        self.reader.stdin.write(("cards " + ",".join(cards) + "\n").encode())
        self.reader.stdin.flush()

    def stop(self, sig=signal.SIGTERM):
        self.process.send_signal(sig)
        started = time.time()
        self.process.wait(10)
        return time.time() - started


# ---------------------------------------------------------------- the checks

def formatted(card, send_format):
    """8H, 10D and 16H of an eight-digit card."""
    return {0: card, 2: f"{int(card, 16):010d}", 4: card.rjust(16, "0")}[send_format]


def typed(cards, send_format, comma, enter):
    return "".join(formatted(c, send_format) + ("," if comma else "") + ("\r" if enter else "") for c in cards)


def read(path):
    """What the client wrote so far; nothing before it made its file."""
    try:
        with open(path, "rb") as f:
            return f.read().decode(errors="replace")
    except FileNotFoundError:
        return ""


def received(path):
    """What the client got from the program: after the test's own marks."""
    return read(path).lstrip(MARK)


class Run:
    def __init__(self, desktop):
        self.desktop = desktop
        self.failures = []
        self.rng = random.Random(21)
        self.card_times = []
        self.exact = self.total = 0

    def check(self, what, ok, detail=""):
        log(f"{self.desktop} {'ok  ' if ok else 'FAIL'} {what}{'' if ok else ': ' + detail}")
        if not ok:
            self.failures.append(what)

    def cards(self, n):
        return [f"{self.rng.getrandbits(32):08X}" for _ in range(n)]

    def grant(self, session, program, choice="share"):
        """GNOME asks at every start; KDE does not ask an unsandboxed program."""
        program.wait_line("Keystrokes through: ")
        if session.desktop == "gnome":
            r = subprocess.run(["/usr/bin/python3", os.path.abspath(__file__), "answer", choice],
                               env=session.env, capture_output=True, text=True, timeout=PORTAL_TIMEOUT + 5)
            if r.returncode != 0:
                raise RuntimeError(f"gnome: the dialog was not answered: {r.stderr.strip()}")
        time.sleep(1.0)  # the portal's Start answer reaches the program

    def send_cards(self, session, name, count, send_format=0, comma=True, enter=True):
        """Presents `count` cards to a new program typing into a new client;
        returns what the client got, what it should have got, the program
        and how long the program took to end on SIGTERM."""
        program = Program(session, name, send_format, comma, enter)
        self.grant(session, program)
        sink, out = session.start_sink(name)
        cards = self.cards(count)
        want = typed(cards, send_format, comma, enter)
        program.present(cards)
        try:
            session.wait_for(f"{count} cards", lambda: len(received(out)) >= len(want), 0.8 * count + 20)
        except RuntimeError:
            pass
        got = received(out)
        with open(out + ".times") as f:
            times = [float(x) for x in f.read().split()]
        took = program.stop()
        session.end(sink)
        return got, want, program, took, times

    def type_cards(self, session, name, count, send_format=0, comma=True, enter=True):
        got, want, program, took, times = self.send_cards(session, name, count, send_format, comma, enter)
        exact = sum(1 for a, b in zip(got.split("\r")[:count], want.split("\r")[:count]) if a == b) if enter else None
        if exact is not None:
            self.exact += exact
            self.total += count
        self.check(f"{session.layout}: {count} cards, format {send_format}, comma {comma}, enter {enter}"
                   f" ({exact if exact is not None else '-'} exact)", got == want,
                   f"got {got[:120]!r}... want {want[:120]!r}...")
        self.card_times += times
        self.check(f"{session.layout}: SIGTERM after typing ends the program at once ({took:.2f} s)", took < 2)
        if session.desktop == "gnome" and session.layout == "us" and send_format == 0:
            self.check("gnome: a portal without persistence is said to ask at every start",
                       "asks for keystroke permission at every start" in program.seen())
        return program

    def kill_mid_card(self, session, sig, observe_only=False):
        """Kills the program while a card is being typed (tried again, up to
        four times, until the cut falls inside a card): what arrived is in
        order, nothing more arrives (no key repeats), and a clean client
        afterwards gets exactly its text (no modifier left down).

        A SIGKILL leaves the program no chance to release the key it holds,
        and neither desktop releases it when the portal session goes: KWin
        repeats it, GNOME 43 types nothing more from any new portal session.
        So for SIGKILL this is an observation (observe_only): what happened is
        logged as a note and is no check: it neither passes nor fails the run."""
        for attempt in range(4):
            name = f"kill{int(sig)}-{attempt}"
            # 16H: 18 keys a card, the longest to cut into.
            program = Program(session, name, cards_format=4)
            self.grant(session, program)
            sink, out = session.start_sink(name)
            cards = self.cards(30)
            program.present(cards)
            want = typed(cards, 4, True, True)
            card_len = len(typed(cards[:1], 4, True, True))
            deadline = time.time() + 40
            while program.seen().count("Card ID") < 4 and time.time() < deadline:
                time.sleep(0.0005)
            time.sleep(self.rng.uniform(0, 0.004))
            program.process.send_signal(sig)
            program.process.wait(10)
            time.sleep(0.3)  # what was on its way
            cut = received(out)
            time.sleep(2)  # a key left down would repeat by now
            after = received(out)
            session.end(sink)
            inside = len(cut) % card_len
            what = (f"{session.layout}: killed ({sig.name}) at {inside}/{card_len} keys of a card,"
                    " what came is in order and nothing more arrives")
            ok = after == cut and want.startswith(cut)
            detail = f"{len(after) - len(cut)} more keys: {after[len(cut):][:60]!r}; got {cut[-40:]!r}"
            if observe_only:
                log(f"{session.desktop} observation: {what}: {'yes' if ok else 'no: ' + detail}")
            else:
                self.check(what, ok, detail)
            if inside:
                break
        else:
            log(f"{session.desktop} note: no kill fell inside a card in 4 tries")
        if not observe_only:
            self.type_cards(session, f"after{int(sig)}", 3)
            return
        try:
            got, want = self.send_cards(session, f"after{int(sig)}", 3)[:2]
            seen = "typed exactly" if got == want else f"typed {got[:60]!r} for {want[:60]!r}"
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            seen = f"failed: {e}"
        log(f"{session.desktop} observation: after {sig.name} in the middle of a card the next program {seen}")

    def refused(self, session):
        program = Program(session, "cancel", keyboard=None)
        program.wait_line("Keystrokes through: ")
        self.check("no --keyboard picks the portal",
                   "Keystrokes through: desktop portal" in program.seen(), program.seen()[-300:])
        self.grant(session, program, "cancel")
        try:
            program.wait_line("The desktop refused keystrokes; cards are not typed.", 10)
            ok = True
        except RuntimeError:
            ok = False
        self.check("gnome: Cancel is told in the info log", ok, program.seen()[-300:])
        program.stop()

    def auto_choice(self, session):
        program = Program(session, "auto", keyboard=None)
        program.wait_line("Keystrokes through: ")
        self.check("no --keyboard picks the portal",
                   "Keystrokes through: desktop portal" in program.seen(), program.seen()[-300:])
        program.stop()


def main():
    role = sys.argv[1]
    if role == "locale1":
        return serve_locale1(sys.argv[2])
    if role == "holdkeyboard":
        return hold_keyboard(sys.argv[2])
    if role == "answer":
        return answer_dialog(sys.argv[2])
    if role == "sink":
        return raw_sink(sys.argv[2])
    build = os.path.abspath(sys.argv[2])
    layouts = sys.argv[3:] or ["us", "fr", "de"]
    run = Run(role)
    for layout in layouts:
        session = Session(role, layout, build)
        failures = len(run.failures)
        try:
            session.start()
            log(f"{role} {layout}: session up in {session.dir}")
            session.check_layout(run)
            only = os.environ.get("DESKTOP_TEST_ONLY")  # to look into one check
            if only == "kill":
                run.kill_mid_card(session, signal.SIGKILL)
            elif layout == "us":
                run.type_cards(session, "hex", 50)
                run.type_cards(session, "decimal", 20, send_format=2, comma=False, enter=True)
                run.kill_mid_card(session, signal.SIGTERM)
                if role == "gnome":
                    run.refused(session)
                else:
                    run.auto_choice(session)
                # Last: it spoils the session (see kill_mid_card).
                run.kill_mid_card(session, signal.SIGKILL, observe_only=True)
            else:
                run.type_cards(session, f"hex-{layout}", 20)
        except (RuntimeError, subprocess.TimeoutExpired) as e:
            run.check(f"{layout}: session", False, str(e))
        finally:
            session.stop()
            # Kept to look into when something failed.
            if len(run.failures) == failures:
                shutil.rmtree(session.dir, ignore_errors=True)
            else:
                log(f"{role} {layout}: its files are kept in {session.dir}")
    log(f"{role}: {run.exact} of {run.total} cards typed exactly")
    times = sorted(run.card_times)
    if times:
        log(f"{role}: {len(times)} cards, time per card median {times[len(times) // 2]:.1f} ms, "
            f"max {times[-1]:.1f} ms (first key to Enter, at the client)")
    log(f"{role}: {'all checks passed' if not run.failures else str(len(run.failures)) + ' failed'}")
    return 1 if run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
