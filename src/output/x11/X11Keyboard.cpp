#include "output/x11/X11Private.h"

#include "output/KeySymbols.h"

#include <unistd.h>

#include <algorithm>
#include <set>

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

// ---------------------------------------------------------------------------
// Keystrokes

namespace {

// How long keys bound just before typing are left for clients to take in.
constexpr useconds_t kBindSettleUs = 150 * 1000;

// The keysym `code` gives in `group` with the modifiers `mods`, by the
// server's own rules: the group brought into range as the key says, the
// level picked by the key type's map.
KeySym keysymFor(XkbDescPtr desc, int code, int group, unsigned mods)
{
    const int groups = XkbKeyNumGroups(desc, code);
    if (groups == 0) {
        return NoSymbol;
    }
    if (group >= groups) {
        const unsigned char info = XkbKeyGroupInfo(desc, code);
        switch (XkbOutOfRangeGroupAction(info)) {
        case XkbRedirectIntoRange:
            group = XkbOutOfRangeGroupNumber(info) < groups ? XkbOutOfRangeGroupNumber(info) : 0;
            break;
        case XkbClampIntoRange: group = groups - 1; break;
        default: group %= groups;
        }
    }
    const XkbKeyTypePtr type = XkbKeyKeyType(desc, code, group);
    int level = 0;
    for (int i = 0; i < type->map_count; ++i) {
        const XkbKTMapEntryRec& entry = type->map[i];
        if (entry.active && (mods & type->mods.mask) == entry.mods.mask) {
            level = entry.level;
            break;
        }
    }
    return level < XkbKeyGroupWidth(desc, code, group) ? XkbKeySymEntry(desc, code, level, group) : NoSymbol;
}

}  // namespace

// The server's keyboard mapping, and through XKB what each key types in
// each group, with the locked modifiers except Caps Lock (which sendKeys()
// lets go while it types).
x11plan::Keymap X11Keyboard::Impl::readKeymap()
{
    x11plan::Keymap keymap;
    XDisplayKeycodes(dpy, &keymap.minCode, &keymap.maxCode);
    const int count = keymap.maxCode - keymap.minCode + 1;
    KeySym* map = XGetKeyboardMapping(dpy, static_cast<KeyCode>(keymap.minCode), count, &keymap.perCode);
    if (map) {
        keymap.syms.assign(map, map + static_cast<std::size_t>(count) * keymap.perCode);
        XFree(map);
    }
    XkbStateRec state{};
    if (!xkb || lost || XkbGetState(dpy, XkbUseCoreKbd, &state) != Success) {
        return keymap;
    }
    XkbDescPtr desc = XkbGetMap(dpy, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (!desc) {
        return keymap;
    }
    const unsigned mods = state.locked_mods & ~LockMask;
    const int first = std::max<int>(keymap.minCode, desc->min_key_code);
    const int last = std::min<int>(keymap.maxCode, desc->max_key_code);
    keymap.groups = 1;
    for (int code = first; code <= last; ++code) {
        keymap.groups = std::max<int>(keymap.groups, XkbKeyNumGroups(desc, code));
    }
    keymap.currentGroup = std::min<int>(state.group, keymap.groups - 1);
    for (int group = 0; group < keymap.groups; ++group) {
        for (int code = keymap.minCode; code <= keymap.maxCode; ++code) {
            const bool known = code >= first && code <= last;
            keymap.plain.push_back(known ? keysymFor(desc, code, group, mods) : NoSymbol);
            keymap.shifted.push_back(known ? keysymFor(desc, code, group, mods | ShiftMask) : NoSymbol);
        }
    }
    XkbFreeKeyboard(desc, 0, True);
    return keymap;
}

// Gives each keycode the keysym on both levels of one group (Shift makes no
// difference), or no keysym at all for NoSymbol. Through XKB this is a single
// request however many keys change, so clients reload the keymap once; the
// core request would cost one reload per key.
void X11Keyboard::Impl::writeKeymap(const std::vector<std::pair<KeyCode, KeySym>>& assign)
{
    if (assign.empty() || lost) {
        return;
    }
    if (xkb) {
        if (XkbDescPtr desc = XkbGetMap(dpy, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd)) {
            // The request carries the symbols of every key from the lowest to
            // the highest one changed; those in between go back as they are.
            XkbMapChangesRec changes{};
            int low = 255;
            int high = 0;
            bool ok = true;
            for (const auto& [code, sym] : assign) {
                int types[XkbNumKbdGroups] = {XkbTwoLevelIndex, XkbTwoLevelIndex, XkbTwoLevelIndex, XkbTwoLevelIndex};
                low = std::min<int>(low, code);
                high = std::max<int>(high, code);
                ok = XkbChangeTypesOfKey(desc, code, sym == NoSymbol ? 0 : 1, XkbGroup1Mask, types, nullptr) == Success;
                if (!ok) {
                    break;
                }
                if (sym != NoSymbol) {
                    KeySym* syms = XkbKeySymsPtr(desc, code);
                    syms[0] = sym;
                    syms[1] = sym;
                }
            }
            changes.changed = XkbKeySymsMask;
            changes.first_key_sym = static_cast<KeyCode>(low);
            changes.num_key_syms = static_cast<unsigned char>(high - low + 1);
            if (ok) {
                ErrorTrap trap(*this);
                ok = XkbChangeMap(dpy, desc, &changes);
                XSync(dpy, False);
                ok = ok && !trap.failed();
            }
            XkbFreeKeyboard(desc, 0, True);
            if (ok || lost) {
                return;
            }
        }
    }
    for (const auto& [code, sym] : assign) {
        KeySym pair[2] = {sym, sym};
        XChangeKeyboardMapping(dpy, code, sym == NoSymbol ? 1 : 2, pair, 1);
    }
}

// The keycodes of every modifier, which are never spare.
std::set<int> X11Keyboard::Impl::modifierCodes()
{
    std::set<int> codes;
    if (XModifierKeymap* mods = XGetModifierMapping(dpy)) {
        for (int i = 0; i < 8 * mods->max_keypermod; ++i) {
            if (mods->modifiermap[i]) {
                codes.insert(mods->modifiermap[i]);
            }
        }
        XFreeModifiermap(mods);
    }
    return codes;
}

// Binds the card characters the layout lacks, now rather than when a card
// needs them: at start and whenever the keymap has changed.
void X11Keyboard::Impl::bindAhead()
{
    const x11plan::Keymap keymap = readKeymap();
    if (keymap.syms.empty() || lost) {
        return;
    }
    const x11plan::Plan plan = x11plan::planStrokes(
        keymap, [this] { return modifierCodes(); }, bindings, {}, x11plan::Clock::now());
    writeKeymap(plan.bind);
}

// Drains the watch connection; a changed keymap gets its bindings at once.
void X11Keyboard::Impl::drainWatch()
{
    bool keymapChanged = false;
    while (watch && !lost && XPending(watch) > 0) {
        XEvent event;
        XNextEvent(watch, &event);
        keymapChanged = keymapChanged || (watchXkbEvent >= 0 && event.type == watchXkbEvent);
    }
    if (keymapChanged && !lost) {
        bindAhead();
    }
}

bool X11Keyboard::Impl::sendKeys(const std::string& text, bool addComma, bool addEnter)
{
    const auto card = keysyms::forCard(text, addComma, addEnter);
    const std::vector<KeySym> syms(card.begin(), card.end());
    const x11plan::Keymap keymap = readKeymap();
    if (keymap.syms.empty() || lost) {
        return false;
    }
    const x11plan::Plan plan = x11plan::planStrokes(
        keymap, [this] { return modifierCodes(); }, bindings, syms, x11plan::Clock::now());
    if (!plan.ok || lost) {
        return false;
    }
    writeKeymap(plan.bind);
    if (lost) {
        return false;
    }
    if (plan.strokesNeedBind) {
        // A client reads the changed keymap when it gets round to the notice,
        // and reads a key that comes before with the old one: give them that
        // time. Normally bindAhead() has bound the keys long before.
        usleep(kBindSettleUs);
    }
    const auto& strokes = plan.strokes;
    const KeyCode shiftCode = plan.shiftCode;

    // A locked Caps Lock would turn lower-case letters into capitals, and a
    // Shift key held down would change the layout's keys: both are let go
    // for the moment. (The other locked modifiers were counted in the plan.)
    bool relockCaps = false;
    bool shiftDown = !xkb;
    int lockedGroup = 0;
    if (xkb) {
        XkbStateRec state{};
        if (XkbGetState(dpy, XkbUseCoreKbd, &state) == Success) {
            relockCaps = state.locked_mods & LockMask;
            shiftDown = state.base_mods & ShiftMask;
            lockedGroup = state.locked_group;
        }
    }
    std::vector<KeyCode> heldShift;
    if (shiftDown
        && std::any_of(strokes.begin(), strokes.end(), [](const x11plan::Stroke& s) { return s.layoutKey; })) {
        heldShift = pressedShiftKeys();
    }
    if (relockCaps) {
        XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, 0);
    }
    for (KeyCode code : heldShift) {
        XTestFakeKeyEvent(dpy, code, False, 0);
    }
    // Another program may replace the keymap while the keys are on their way
    // (setxkbmap), and a key of ours then types nothing or something else.
    // Before Enter submits the card, the keys typed so far are checked
    // against the keymap the server has by then; a card they may not have
    // carried in full gets no Enter, and is reported as not typed in full.
    const std::size_t checkAt = addEnter ? strokes.size() - 1 : strokes.size();
    bool carried = true;
    // A character found only in another group is typed in that group, locked
    // for the moment as a user's group switch would.
    int group = -1;
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        const x11plan::Stroke& s = strokes[i];
        if (lost) {
            return false;
        }
        if (i == checkAt && !(carried = strokesHeld(plan, syms, keymap.currentGroup, i))) {
            break;
        }
        if (s.group != group) {
            XkbLockGroup(dpy, XkbUseCoreKbd, s.group >= 0 ? s.group : lockedGroup);
            group = s.group;
        }
        if (s.shift) {
            XTestFakeKeyEvent(dpy, shiftCode, True, 0);
        }
        XTestFakeKeyEvent(dpy, s.code, True, 0);
        XTestFakeKeyEvent(dpy, s.code, False, 0);
        if (s.shift) {
            XTestFakeKeyEvent(dpy, shiftCode, False, 0);
        }
    }
    if (group >= 0 && !lost) {
        XkbLockGroup(dpy, XkbUseCoreKbd, lockedGroup);
    }
    for (KeyCode code : heldShift) {
        if (!lost) {
            XTestFakeKeyEvent(dpy, code, True, 0);
        }
    }
    if (relockCaps && !lost) {
        XkbLockModifiers(dpy, XkbUseCoreKbd, LockMask, LockMask);
    }
    if (!lost) {
        XSync(dpy, False);
    }
    if (checkAt == strokes.size() && carried && !lost) {
        carried = strokesHeld(plan, syms, keymap.currentGroup, checkAt);
    }
    if (!carried && !lost) {
        bindAhead();  // the next card finds its keys in place again
    }
    return carried && !lost;
}

// Whether the first `count` strokes' keys still type the keysyms they were
// chosen for, in the keymap the server has once it has taken them.
bool X11Keyboard::Impl::strokesHeld(const x11plan::Plan& plan, const std::vector<KeySym>& syms, int currentGroup,
                                    std::size_t count)
{
    XSync(dpy, False);
    const x11plan::Keymap now = readKeymap();
    if (now.syms.empty() || lost) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const x11plan::Stroke& s = plan.strokes[i];
        const KeySym typed
            = s.layoutKey ? now.typed(s.code, s.shift, s.group >= 0 ? s.group : currentGroup) : now.at(s.code, 0);
        if (typed != syms[i]) {
            return false;
        }
    }
    return true;
}

// A shortcut such as Control+space, with the keys the layout has for it;
// false when it lacks one of them.
bool X11Keyboard::Impl::sendShortcut(const Shortcut& key)
{
    std::vector<KeyCode> held;
    const std::pair<bool, KeySym> modifiers[]
        = {{key.control, XK_Control_L}, {key.shift, XK_Shift_L}, {key.alt, XK_Alt_L}, {key.super, XK_Super_L}};
    for (const auto& [wanted, sym] : modifiers) {
        if (wanted) {
            held.push_back(XKeysymToKeycode(dpy, sym));
        }
    }
    const KeyCode code = XKeysymToKeycode(dpy, key.keysym);
    if (lost || code == 0 || std::find(held.begin(), held.end(), 0) != held.end()) {
        return false;
    }
    for (KeyCode m : held) {
        XTestFakeKeyEvent(dpy, m, True, 0);
    }
    XTestFakeKeyEvent(dpy, code, True, 0);
    XTestFakeKeyEvent(dpy, code, False, 0);
    for (auto m = held.rbegin(); m != held.rend(); ++m) {
        XTestFakeKeyEvent(dpy, *m, False, 0);
    }
    XSync(dpy, False);
    return !lost;
}

// The keys of the Shift modifier that are down now.
std::vector<KeyCode> X11Keyboard::Impl::pressedShiftKeys()
{
    std::vector<KeyCode> held;
    char keys[32] = {};
    XQueryKeymap(dpy, keys);
    XModifierKeymap* mods = XGetModifierMapping(dpy);
    if (!mods || lost) {
        if (mods) {
            XFreeModifiermap(mods);
        }
        return held;
    }
    for (int i = 0; i < mods->max_keypermod; ++i) {
        const KeyCode code = mods->modifiermap[ShiftMapIndex * mods->max_keypermod + i];
        if (code && (keys[code / 8] & (1 << (code % 8)))) {
            held.push_back(code);
        }
    }
    XFreeModifiermap(mods);
    return held;
}

void X11Keyboard::Impl::releaseBindings()
{
    if (bindings.empty()) {
        return;
    }
    const x11plan::Keymap keymap = readKeymap();
    if (keymap.syms.empty() || lost) {
        return;
    }
    std::vector<std::pair<KeyCode, KeySym>> clear;
    for (const x11plan::Binding& b : bindings) {
        // Only what is still ours: after setxkbmap the key belongs to the layout.
        if (keymap.at(b.code, 0) == b.sym) {
            clear.emplace_back(b.code, NoSymbol);
        }
    }
    writeKeymap(clear);
    bindings.clear();
    if (!lost) {
        XSync(dpy, False);
    }
}

// ---------------------------------------------------------------------------

X11Keyboard::X11Keyboard(const std::string& displayName) : d_(std::make_unique<Impl>())
{
    const SigpipeBlock noSigpipe;
    d_->open(displayName);
}

X11Keyboard::~X11Keyboard()
{
    const SigpipeBlock noSigpipe;
    d_->close();
}

bool X11Keyboard::available() const
{
    return d_->dpy && !d_->lost;
}

int X11Keyboard::changeNotifier()
{
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter() || !d.watch || !d.wmAnnouncesActive()) {
        return -1;
    }
    return ConnectionNumber(d.watch);
}

void X11Keyboard::drainChanges()
{
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter() || !d.watch) {
        return;
    }
    d.drainWatch();
    if (d.lost) {
        d.abandon();
    }
}

KeySender::Sent X11Keyboard::sendKeys(const std::string& text, bool addComma, bool addEnter)
{
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter()) {
        return Sent::NoDesktop;
    }
    if (d.sendKeys(text, addComma, addEnter)) {
        return Sent::All;
    }
    return d.lost ? Sent::NoDesktop : Sent::Incomplete;
}

KeySender::Sent X11Keyboard::sendShortcut(const Shortcut& key)
{
    const SigpipeBlock noSigpipe;
    Impl& d = *d_;
    if (!d.enter()) {
        return Sent::NoDesktop;
    }
    if (d.sendShortcut(key)) {
        return Sent::All;
    }
    return d.lost ? Sent::NoDesktop : Sent::Incomplete;
}
