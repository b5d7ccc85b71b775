#include "output/x11/KeymapPlan.h"

#include "output/KeySymbols.h"

#include <algorithm>

namespace x11plan {

namespace {

constexpr KeySym kShiftL = 0xffe1;
constexpr KeySym kShiftR = 0xffe2;

// Bound ahead of need, as long as this many spare keycodes stay free: card
// numbers use few characters, so the keymap (which every client and the
// window manager reload on each change) normally changes once in our life.
constexpr std::size_t kKeepSpare = 2;
constexpr KeySym kCardCharacters[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8',
                                      '9', 'A', 'B', 'C', 'D', 'E', 'F', ','};

}  // namespace

KeySym Keymap::at(int code, int index) const
{
    if (code < minCode || code > maxCode || index < 0 || index >= perCode)
        return 0;
    const std::size_t i = static_cast<std::size_t>(code - minCode) * perCode + index;
    return i < syms.size() ? syms[i] : 0;
}

int Keymap::find(KeySym sym, int index) const
{
    for (int code = minCode; code <= maxCode; ++code) {
        if (at(code, index) == sym)
            return code;
    }
    return 0;
}

Plan planStrokes(const Keymap& keymap, const std::function<std::set<int>()>& modifierCodes,
                 std::vector<Binding>& bindings, const std::vector<KeySym>& syms,
                 Clock::time_point now)
{
    Plan result;
    // Drop bindings the keymap no longer holds.
    bindings.erase(std::remove_if(bindings.begin(), bindings.end(),
                                  [&](const Binding& b) {
                                      return keymap.at(b.code, 0) != b.sym ||
                                             (keymap.at(b.code, 1) != b.sym &&
                                              keymap.at(b.code, 1) != 0);
                                  }),
                   bindings.end());

    result.shiftCode = static_cast<KeyCode>(keymap.find(kShiftL, 0));
    if (!result.shiftCode)
        result.shiftCode = static_cast<KeyCode>(keymap.find(kShiftR, 0));

    const std::set<KeySym> wanted(syms.begin(), syms.end());
    std::vector<std::pair<KeySym, Stroke>> plan;
    std::vector<KeySym> missing;
    for (KeySym sym : wanted) {
        if (sym == keysyms::kReturn) {
            if (const int code = keymap.find(sym, 0)) {
                plan.push_back({sym, {static_cast<KeyCode>(code), false, true}});
                continue;
            }
        }
        auto bound = std::find_if(bindings.begin(), bindings.end(),
                                  [sym](const Binding& b) { return b.sym == sym; });
        if (bound != bindings.end()) {
            bound->lastUse = now;
            plan.push_back({sym, {bound->code, false, false}});
        } else {
            missing.push_back(sym);
        }
    }

    if (!missing.empty()) {
        const std::set<int> modifiers = modifierCodes ? modifierCodes() : std::set<int>{};
        // Keycode 8 stands for "no key" on evdev-based servers, which may
        // drop it on the way.
        std::vector<KeyCode> spare;
        for (int code = keymap.maxCode; code >= std::max(keymap.minCode, 9); --code) {
            bool empty = !modifiers.count(code);
            for (int i = 0; empty && i < keymap.perCode; ++i)
                empty = keymap.at(code, i) == 0;
            if (empty)
                spare.push_back(static_cast<KeyCode>(code));
        }
        // Spare keycodes go first to characters the layout has no key for;
        // the others can fall back on the layout's keys if they run out.
        std::stable_partition(missing.begin(), missing.end(), [&](KeySym sym) {
            return !keymap.find(sym, 0) && !keymap.find(sym, 1);
        });
        std::vector<KeySym> toBind = missing;
        for (KeySym sym : kCardCharacters) {
            if (toBind.size() + kKeepSpare >= spare.size())
                break;
            if (!wanted.count(sym) &&
                std::none_of(bindings.begin(), bindings.end(),
                             [sym](const Binding& b) { return b.sym == sym; }))
                toBind.push_back(sym);
        }
        for (KeySym sym : toBind) {
            const bool needed = wanted.count(sym) > 0;
            KeyCode code = 0;
            if (!spare.empty()) {
                code = spare.back();
                spare.pop_back();
            } else if (needed) {
                // Reuse the binding unused longest, when that is long enough ago.
                auto oldest = bindings.end();
                for (auto it = bindings.begin(); it != bindings.end(); ++it) {
                    if (!wanted.count(it->sym) && now - it->lastUse >= kRebindAfter &&
                        (oldest == bindings.end() || it->lastUse < oldest->lastUse))
                        oldest = it;
                }
                if (oldest != bindings.end()) {
                    code = oldest->code;
                    bindings.erase(oldest);
                }
            }
            if (code) {
                result.bind.emplace_back(code, sym);
                bindings.push_back({sym, code, now});
                if (needed)
                    plan.push_back({sym, {code, false, false}});
            } else if (!needed) {
                continue;
            } else if (const int plain = keymap.find(sym, 0)) {
                plan.push_back({sym, {static_cast<KeyCode>(plain), false, true}});
            } else if (const int shifted = keymap.find(sym, 1); shifted && result.shiftCode) {
                plan.push_back({sym, {static_cast<KeyCode>(shifted), true, true}});
            } else {
                return result;  // rather nothing than a text with holes
            }
        }
    }

    result.strokes.reserve(syms.size());
    for (KeySym sym : syms) {
        for (const auto& entry : plan) {
            if (entry.first == sym) {
                result.strokes.push_back(entry.second);
                break;
            }
        }
    }
    result.ok = true;
    return result;
}

}  // namespace x11plan
