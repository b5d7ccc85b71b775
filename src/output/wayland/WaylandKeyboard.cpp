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

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace {

// xkb keycodes are evdev codes plus 8; ours start at evdev code 1.
constexpr std::uint32_t kFirstKeycode = 9;
constexpr std::uint32_t kKeyReleased = 0;
constexpr std::uint32_t kKeyPressed = 1;

// Our keys in keycode order: printable ASCII, then Return.
std::vector<std::uint32_t> ourKeysyms()
{
    std::vector<std::uint32_t> syms;
    for (std::uint32_t c = 0x20; c < 0x7f; ++c)
        syms.push_back(c);
    syms.push_back(keysyms::kReturn);
    return syms;
}

std::uint32_t nowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

struct WaylandKeyboard::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    std::map<std::uint32_t, std::uint32_t> keyOf;  // keysym -> evdev code
    std::string keymap;                            // the text we upload

    bool stalled = false;                          // the compositor stopped answering

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
        } else if (!d->manager &&
                   std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            d->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        }
        (void)version;
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}
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

// The keymap we upload: printable ASCII and Return.
std::string keymapText()
{
    const auto syms = ourKeysyms();
    std::string keycodes;
    std::string symbols;
    for (std::size_t i = 0; i < syms.size(); ++i) {
        char name[64] = {};
        if (xkb_keysym_get_name(syms[i], name, sizeof name) <= 0)
            return {};
        const std::string key = "<K" + std::to_string(i) + ">";
        keycodes += "    " + key + " = " + std::to_string(kFirstKeycode + i) + ";\n";
        symbols += "    key " + key + " { type = \"ONE_LEVEL\", symbols[Group1] = [ " + name + " ] };\n";
    }
    // One level per key and no modifiers that could pick another: Shift and
    // Caps Lock change nothing.
    const std::string source =
        "xkb_keymap {\n"
        "  xkb_keycodes \"tallyport\" {\n    minimum = 8;\n    maximum = 255;\n" + keycodes + "  };\n"
        "  xkb_types \"tallyport\" {\n"
        "    type \"ONE_LEVEL\" { modifiers = none; level_name[Level1] = \"Any\"; };\n"
        "  };\n"
        "  xkb_compatibility \"tallyport\" { };\n"
        "  xkb_symbols \"tallyport\" {\n" + symbols + "  };\n"
        "};\n";
    // Compiled here first, so a compositor never sees a keymap that fails.
    xkb_context* context = xkb_context_new(
        static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context)
        return {};
    std::string out;
    if (xkb_keymap* keymap = xkb_keymap_new_from_string(context, source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                        XKB_KEYMAP_COMPILE_NO_FLAGS)) {
        if (char* normalised = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1)) {
            out = normalised;
            free(normalised);
        }
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
    d.keymap = keymapText();
    if (!d.uploadKeymap()) {
        zwp_virtual_keyboard_v1_destroy(d.keyboard);
        d.keyboard = nullptr;
        return;
    }
    const auto syms = ourKeysyms();
    for (std::size_t i = 0; i < syms.size(); ++i)
        d.keyOf[syms[i]] = static_cast<std::uint32_t>(kFirstKeycode - 8 + i);
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

bool WaylandKeyboard::typeText(WindowId target, const std::string& text, bool addComma, bool addEnter,
                               const ClipboardSetter& setClipboard)
{
    Impl& d = *d_;
    if (!d.alive() || target == 0)
        return false;
    std::vector<std::uint32_t> keys;
    for (std::uint32_t sym : keysyms::forCard(text, addComma, addEnter)) {
        const auto key = d.keyOf.find(sym);
        if (key == d.keyOf.end())
            return false;  // rather nothing than a text with holes
        keys.push_back(key->second);
    }
    if (setClipboard)
        setClipboard(text);
    // The compositor may have given our keyboard a layout of its own since
    // the last card (sway does on every change of its keyboard settings),
    // and locked Caps Lock on it: our keymap and no modifiers, every time.
    if (!d.uploadKeymap())
        return false;
    zwp_virtual_keyboard_v1_modifiers(d.keyboard, 0, 0, 0, 0);
    for (std::uint32_t key : keys) {
        const std::uint32_t time = nowMs();
        zwp_virtual_keyboard_v1_key(d.keyboard, time, key, kKeyPressed);
        zwp_virtual_keyboard_v1_key(d.keyboard, time, key, kKeyReleased);
    }
    // Back once the compositor has handled every key.
    return d.roundtrip() && d.alive();
}
