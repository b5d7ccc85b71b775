#!/usr/bin/python3
# A GTK3 window with one entry, the way a form takes card numbers: when the
# entry activates (Enter), its text and the keys pressed for it (modifier
# keys left out) are appended as one JSON line to the file named by the
# first argument, and the entry is cleared. The window's app id is the
# second argument.
import json
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

GLib.set_prgname(sys.argv[2])
keys = []


def report(record):
    with open(sys.argv[1], "a") as out:
        out.write(json.dumps(record) + "\n")


def on_key(entry, event):
    # is_modifier is not set on Wayland: Shift_L to Hyper_R by keyval
    if event.is_modifier or Gdk.KEY_Shift_L <= event.keyval <= Gdk.KEY_Hyper_R:
        return False
    char = Gdk.keyval_to_unicode(event.keyval)
    name = "Enter" if event.keyval == Gdk.KEY_Return else (chr(char) if char else Gdk.keyval_name(event.keyval))
    keys.append({"key": name, "code": event.hardware_keycode})
    return False


def on_activate(entry):
    report({"value": entry.get_text(), "keys": keys[:]})
    keys.clear()
    entry.set_text("")


window = Gtk.Window(title="cards")
entry = Gtk.Entry()
entry.connect("key-press-event", on_key)
entry.connect("activate", on_activate)
window.add(entry)
window.connect("destroy", Gtk.main_quit)
window.show_all()
GLib.idle_add(lambda: report({"ready": True}))
Gtk.main()
