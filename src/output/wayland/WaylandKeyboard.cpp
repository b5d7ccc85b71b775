#include "output/wayland/WaylandKeyboard.h"

#include "output/KeySymbols.h"
#include "output/wayland/WaylandRoundtrip.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <tuple>
#include <utility>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace {

constexpr std::uint32_t kKeyReleased = 0;
constexpr std::uint32_t kKeyPressed = 1;

// Evdev codes of the keys that are not characters; xkb keycodes are evdev
// codes plus 8.
constexpr std::uint32_t kEnterKey = 28;      // KEY_ENTER
constexpr std::uint32_t kLeftShiftKey = 42;  // KEY_LEFTSHIFT
constexpr std::uint32_t kXkbOffset = 8;

// The other modifiers, for an input method's switch key (Control+space):
// evdev code, keysym and modifier name.
struct ModifierKey {
    std::uint32_t code;
    std::uint32_t keysym;
    const char* modifier;
};
constexpr ModifierKey kControlKey{29, XKB_KEY_Control_L, XKB_MOD_NAME_CTRL};  // KEY_LEFTCTRL
constexpr ModifierKey kAltKey{56, XKB_KEY_Alt_L, XKB_MOD_NAME_ALT};           // KEY_LEFTALT
constexpr ModifierKey kSuperKey{125, XKB_KEY_Super_L, XKB_MOD_NAME_LOGO};     // KEY_LEFTMETA

// Every printable ASCII character on the key a us keyboard has it on, with
// or without Shift, so toolkits that look at the key as well as the keysym
// (GTK's entry acts on Enter only from the Enter key) take our keys for a
// physical keyboard's. Each row's keys have consecutive evdev codes.
struct KeyRow {
    std::uint32_t firstKey;
    const char* plain;
    const char* shifted;
};
constexpr KeyRow kUsRows[] = {
    {2, "1234567890-=", "!@#$%^&*()_+"},
    {16, "qwertyuiop[]", "QWERTYUIOP{}"},
    {30, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {43, "\\zxcvbnm,./", "|ZXCVBNM<>?"},
    {57, " ", " "},
};

struct Key {
    std::uint32_t code;  // evdev
    bool shift;
};

std::map<std::uint32_t, Key> usKeys()
{
    std::map<std::uint32_t, Key> keys;
    for (const KeyRow& row : kUsRows) {
        for (std::uint32_t i = 0; row.plain[i]; ++i) {
            keys[static_cast<unsigned char>(row.plain[i])] = {row.firstKey + i, false};
            keys.emplace(static_cast<unsigned char>(row.shifted[i]), Key{row.firstKey + i, true});
        }
    }
    keys[keysyms::kReturn] = {kEnterKey, false};
    return keys;
}

std::uint32_t nowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

struct WaylandKeyboard::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    std::map<std::uint32_t, Key> keyOf;                   // keysym -> key
    std::string keymap;                                   // the text we upload
    std::uint32_t shiftMask = 0;                          // Shift in that keymap
    std::map<std::uint32_t, std::uint32_t> modifierMask;  // evdev code of Control, Alt, Super -> mask

    bool stalled = false;  // the compositor stopped answering

    bool alive() const { return display && keyboard && !stalled && wl_display_get_error(display) == 0; }
    // Past this the compositor counts as gone, and this output is off.
    bool roundtrip()
    {
        stalled = stalled || !roundtripWithin(display, 2000);
        return !stalled;
    }
    bool uploadKeymap();

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version)
    {
        auto* d = static_cast<Impl*>(data);
        if (!d->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
            d->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (!d->manager && std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            d->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        }
        (void)version;
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) { }
};

// The keymap goes through a sealed memory file that the compositor maps.
bool WaylandKeyboard::Impl::uploadKeymap()
{
    const std::string& text = keymap;
    if (text.empty())
        return false;
    const int fd = memfd_create("tallyport-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return false;
    const std::size_t size = text.size() + 1;  // with its terminating zero
    bool ok = write(fd, text.c_str(), size) == static_cast<ssize_t>(size);
    if (ok) {
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
    }
    close(fd);
    return ok;
}

namespace {

struct Keymap {
    std::string text;  // empty when it fails to compile
    std::uint32_t shiftMask = 0;
    std::map<std::uint32_t, std::uint32_t> modifierMask;  // evdev code -> mask
};

// The keymap we upload: the keys of kUsRows, Enter, Shift, Control, Alt and
// Super, with the modifier masks in it.
Keymap keymapText(const std::map<std::uint32_t, Key>& keys)
{
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> levels;  // code -> syms
    for (const auto& [sym, key] : keys) {
        auto& pair = levels[key.code];
        (key.shift ? pair.second : pair.first) = sym;
    }
    levels[kLeftShiftKey] = {XKB_KEY_Shift_L, 0};
    std::string modifierMap;
    for (const ModifierKey& m : {kControlKey, kAltKey, kSuperKey}) {
        levels[m.code] = {m.keysym, 0};
        const std::string name = std::strcmp(m.modifier, XKB_MOD_NAME_CTRL) == 0 ? "Control"
            : std::strcmp(m.modifier, XKB_MOD_NAME_ALT) == 0                     ? "Mod1"
                                                                                 : "Mod4";
        modifierMap += "    modifier_map " + name + " { <K" + std::to_string(m.code) + "> };\n";
    }
    std::string keycodes;
    std::string symbols;
    for (const auto& [code, syms] : levels) {
        char plain[64] = {};
        char shifted[64] = {};
        if (xkb_keysym_get_name(syms.first, plain, sizeof plain) <= 0
            || (syms.second && xkb_keysym_get_name(syms.second, shifted, sizeof shifted) <= 0))
            return {};
        const std::string key = "<K" + std::to_string(code) + ">";
        keycodes += "    " + key + " = " + std::to_string(code + kXkbOffset) + ";\n";
        symbols += "    key " + key + " { type = \"" + (syms.second ? "TWO_LEVEL" : "ONE_LEVEL")
            + "\", symbols[Group1] = [ " + plain + (syms.second ? std::string(", ") + shifted : "") + " ] };\n";
    }
    // Only Shift picks a level; no Caps Lock in the types, so a lock the
    // compositor sets on our keyboard changes nothing.
    const std::string source = "xkb_keymap {\n"
                               "  xkb_keycodes \"tallyport\" {\n    minimum = 8;\n    maximum = 255;\n"
        + keycodes
        + "  };\n"
          "  xkb_types \"tallyport\" {\n"
          "    type \"ONE_LEVEL\" { modifiers = none; level_name[Level1] = \"Any\"; };\n"
          "    type \"TWO_LEVEL\" { modifiers = Shift; map[Shift] = Level2;\n"
          "      level_name[Level1] = \"Base\"; level_name[Level2] = \"Shift\"; };\n"
          "  };\n"
          "  xkb_compatibility \"tallyport\" { };\n"
          "  xkb_symbols \"tallyport\" {\n"
        + symbols + "    modifier_map Shift { <K" + std::to_string(kLeftShiftKey) + "> };\n" + modifierMap
        + "  };\n"
          "};\n";
    // Compiled here first, so a compositor never sees a keymap that fails.
    xkb_context* context = xkb_context_new(
        static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context)
        return {};
    Keymap out;
    if (xkb_keymap* keymap
        = xkb_keymap_new_from_string(context, source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS)) {
        const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
        char* normalised = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        bool ok = normalised && shift != XKB_MOD_INVALID;
        for (const ModifierKey& m : {kControlKey, kAltKey, kSuperKey}) {
            const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, m.modifier);
            ok = ok && index != XKB_MOD_INVALID;
            out.modifierMask[m.code] = ok ? 1u << index : 0;
        }
        if (ok) {
            out.text = normalised;
            out.shiftMask = 1u << shift;
        }
        free(normalised);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return out;
}

}  // namespace

WaylandKeyboard::WaylandKeyboard(const std::string& displayName) : d_(std::make_unique<Impl>())
{
    Impl& d = *d_;
    d.display = wl_display_connect(displayName.empty() ? nullptr : displayName.c_str());
    if (!d.display)
        return;
    static const wl_registry_listener listener = {&Impl::global, &Impl::globalRemove};
    d.registry = wl_display_get_registry(d.display);
    wl_registry_add_listener(d.registry, &listener, &d);
    if (!d.roundtrip() || !d.seat || !d.manager)
        return;
    d.keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(d.manager, d.seat);
    d.keyOf = usKeys();
    Keymap keymap = keymapText(d.keyOf);
    d.keymap = std::move(keymap.text);
    d.shiftMask = keymap.shiftMask;
    d.modifierMask = std::move(keymap.modifierMask);
    if (!d.uploadKeymap()) {
        zwp_virtual_keyboard_v1_destroy(d.keyboard);
        d.keyboard = nullptr;
        return;
    }
    // A compositor that refuses us a keyboard says so with a protocol error.
    d.roundtrip();
}

WaylandKeyboard::~WaylandKeyboard()
{
    Impl& d = *d_;
    if (!d.display)
        return;
    if (d.keyboard)
        zwp_virtual_keyboard_v1_destroy(d.keyboard);
    if (d.manager)
        zwp_virtual_keyboard_manager_v1_destroy(d.manager);
    if (d.seat)
        wl_seat_destroy(d.seat);
    if (d.registry)
        wl_registry_destroy(d.registry);
    wl_display_flush(d.display);
    wl_display_disconnect(d.display);
}

bool WaylandKeyboard::available() const
{
    return d_->alive();
}

bool WaylandKeyboard::showWindow(WindowId target)
{
    return d_->alive() && target != 0;
}

KeySender::Sent WaylandKeyboard::sendKeys(const std::string& text, bool addComma, bool addEnter)
{
    Impl& d = *d_;
    if (!d.alive())
        return Sent::NoDesktop;
    std::vector<Key> keys;
    for (std::uint32_t sym : keysyms::forCard(text, addComma, addEnter)) {
        const auto key = d.keyOf.find(sym);
        if (key == d.keyOf.end())
            return Sent::Incomplete;  // rather nothing than a text with holes
        keys.push_back(key->second);
    }
    // The compositor may have given our keyboard a layout of its own since
    // the last card (sway does on every change of its keyboard settings),
    // and locked Caps Lock on it: our keymap and no modifiers, every time.
    if (!d.uploadKeymap())
        return d.alive() ? Sent::Incomplete : Sent::NoDesktop;
    zwp_virtual_keyboard_v1_modifiers(d.keyboard, 0, 0, 0, 0);
    // Shift is held as on a physical keyboard: its key goes down, and since
    // the compositor takes a virtual keyboard's modifiers only from what it
    // is told, the modifier state says so too.
    bool shifted = false;
    auto shift = [&](bool down) {
        zwp_virtual_keyboard_v1_key(d.keyboard, nowMs(), kLeftShiftKey, down ? kKeyPressed : kKeyReleased);
        zwp_virtual_keyboard_v1_modifiers(d.keyboard, down ? d.shiftMask : 0, 0, 0, 0);
        shifted = down;
    };
    for (const Key& key : keys) {
        if (key.shift != shifted)
            shift(key.shift);
        const std::uint32_t time = nowMs();
        zwp_virtual_keyboard_v1_key(d.keyboard, time, key.code, kKeyPressed);
        zwp_virtual_keyboard_v1_key(d.keyboard, time, key.code, kKeyReleased);
    }
    if (shifted)
        shift(false);
    // Back once the compositor has handled every key.
    return d.roundtrip() && d.alive() ? Sent::All : Sent::NoDesktop;
}

KeySender::Sent WaylandKeyboard::sendShortcut(const Shortcut& shortcut)
{
    Impl& d = *d_;
    if (!d.alive())
        return Sent::NoDesktop;
    // A modifier alone is its own key.
    std::uint32_t code = 0;
    for (const ModifierKey& m : {kControlKey, kAltKey, kSuperKey, ModifierKey{kLeftShiftKey, XKB_KEY_Shift_L, ""}}) {
        if (m.keysym == shortcut.keysym)
            code = m.code;
    }
    const auto key = d.keyOf.find(shortcut.keysym);
    if (code == 0 && (key == d.keyOf.end() || key->second.shift))
        return Sent::Incomplete;
    if (code == 0)
        code = key->second.code;
    std::vector<std::uint32_t> held;
    if (shortcut.shift)
        held.push_back(kLeftShiftKey);
    for (const auto& [wanted, m] : {std::pair{shortcut.control, kControlKey}, std::pair{shortcut.alt, kAltKey},
                                    std::pair{shortcut.super, kSuperKey}}) {
        if (wanted)
            held.push_back(m.code);
    }
    // Modifiers down as keys and in the state the compositor is told, the
    // key, then all of it up again.
    std::uint32_t mask = 0;
    for (std::uint32_t code : held) {
        mask |= code == kLeftShiftKey ? d.shiftMask : d.modifierMask[code];
        zwp_virtual_keyboard_v1_key(d.keyboard, nowMs(), code, kKeyPressed);
        zwp_virtual_keyboard_v1_modifiers(d.keyboard, mask, 0, 0, 0);
    }
    const std::uint32_t time = nowMs();
    zwp_virtual_keyboard_v1_key(d.keyboard, time, code, kKeyPressed);
    zwp_virtual_keyboard_v1_key(d.keyboard, time, code, kKeyReleased);
    for (auto m = held.rbegin(); m != held.rend(); ++m)
        zwp_virtual_keyboard_v1_key(d.keyboard, nowMs(), *m, kKeyReleased);
    zwp_virtual_keyboard_v1_modifiers(d.keyboard, 0, 0, 0, 0);
    return d.roundtrip() && d.alive() ? Sent::All : Sent::NoDesktop;
}
