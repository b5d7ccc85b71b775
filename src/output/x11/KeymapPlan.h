// Which keycode types each character on X11, decided from a copy of the
// server's keymap: plain code without any X connection, so it can be tested
// on its own.
//
// Each character is typed with a key the current layout has for it, with
// Shift where it needs it, so applications see the key events a user's
// keyboard would give (browsers and Java look at the key, not only at the
// character). Only characters the layout lacks (Latin letters in ru) go
// through spare keycodes (keycodes the keymap leaves empty) bound to exactly
// that character. Bindings are kept for the life of the keyboard: a client
// reads the keymap only when it gets round to the MappingNotify, so a binding
// must not change while key events for it may still be waiting in some
// client's queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <utility>
#include <vector>

namespace x11plan {

using Clock = std::chrono::steady_clock;
using KeySym = unsigned long;
using KeyCode = unsigned char;

// A binding unused for this long may be given to another character when the
// spare keycodes run out: by then every client has long read the keys typed
// through it.
constexpr auto kRebindAfter = std::chrono::seconds(5);

// The server's keyboard mapping: `perCode` keysyms for each keycode from
// `minCode` to `maxCode`, every group and level (the core mapping).
struct Keymap {
    int minCode = 0;
    int maxCode = 0;
    int perCode = 0;
    std::vector<KeySym> syms;
    // What each key types with the locked modifiers other than Caps Lock,
    // without and with Shift, in each group of the keyboard: group g's keys
    // from `minCode` on at g * (maxCode - minCode + 1). Left empty, the first
    // two levels of `syms` stand for the current group.
    std::vector<KeySym> plain;
    std::vector<KeySym> shifted;
    int groups = 1;
    int currentGroup = 0;

    // The keysym at one level of a keycode; 0 (NoSymbol) outside the map.
    KeySym at(int code, int index) const;
    // The first keycode with `sym` at `index`, or 0.
    int find(KeySym sym, int index) const;
    // What `code` types in `group`, with Shift or without.
    KeySym typed(int code, bool shift, int group) const;
};

struct Binding {
    KeySym sym;
    KeyCode code;
    Clock::time_point lastUse;
};

struct Stroke {
    KeyCode code;
    bool shift;      // press Shift with it
    bool layoutKey;  // a key of the layout rather than one of our bindings
    int group = -1;  // the group to lock while it is typed; -1: the current one
};

struct Plan {
    bool ok = false;                               // false: some character found no key; type nothing
    std::vector<Stroke> strokes;                   // one per keysym asked for
    std::vector<std::pair<KeyCode, KeySym>> bind;  // keymap changes to make first
    bool strokesNeedBind = false;                  // some stroke uses a key in `bind`
    KeyCode shiftCode = 0;                         // the layout's Shift key, or 0
};

// Finds a keycode for every keysym: a key of the layout that types it
// without or with Shift, in the current group or else in another one (as a
// user switches to the Latin group of "us,ru" to type Latin letters), else our own binding (dropped when the keymap no
// longer holds it, as after setxkbmap), else a newly bound spare keycode.
// Card characters the layout lacks are bound ahead, whatever `syms` asks
// for (an empty `syms` binds only those), so the keymap changes once per
// layout and long before a card needs the keys. `bindings` is updated to
// what the keymap holds once `bind` is written. `modifierCodes` names the
// keycodes of modifiers, which are never spare; it is asked only when
// something has to be bound.
Plan planStrokes(const Keymap& keymap, const std::function<std::set<int>()>& modifierCodes,
                 std::vector<Binding>& bindings, const std::vector<KeySym>& syms, Clock::time_point now);

}  // namespace x11plan
