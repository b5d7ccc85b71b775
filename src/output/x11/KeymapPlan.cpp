#include "output/x11/KeymapPlan.h"

#include <algorithm>

namespace x11plan {

namespace {

constexpr KeySym kShiftL = 0xffe1;
constexpr KeySym kShiftR = 0xffe2;

// Card characters are bound ahead of need as long as this many spare
// keycodes stay free for anything else.
constexpr std::size_t kKeepSpare = 2;
constexpr KeySym kCardCharacters[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B',
                                      'C', 'D', 'E', 'F', ',', 'a', 'b', 'c', 'd', 'e', 'f'};

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

KeySym Keymap::typed(int code, bool shift, int group) const
{
    const std::vector<KeySym>& now = shift ? shifted : plain;
    if (now.empty())
        return group == currentGroup ? at(code, shift ? 1 : 0) : 0;
    if (code < minCode || code > maxCode)
        return 0;
    const std::size_t i = static_cast<std::size_t>(group) * (maxCode - minCode + 1) + (code - minCode);
    return i < now.size() ? now[i] : 0;
}

Plan planStrokes(const Keymap& keymap, const std::function<std::set<int>()>& modifierCodes,
                 std::vector<Binding>& bindings, const std::vector<KeySym>& syms, Clock::time_point now)
{
    Plan result;
    // Drop bindings the keymap no longer holds.
    bindings.erase(std::remove_if(bindings.begin(), bindings.end(),
                                  [&](const Binding& b) {
                                      return keymap.at(b.code, 0) != b.sym
                                          || (keymap.at(b.code, 1) != b.sym && keymap.at(b.code, 1) != 0);
                                  }),
                   bindings.end());

    result.shiftCode = static_cast<KeyCode>(keymap.find(kShiftL, 0));
    if (!result.shiftCode)
        result.shiftCode = static_cast<KeyCode>(keymap.find(kShiftR, 0));

    auto boundTo = [&](KeySym sym) {
        return std::find_if(bindings.begin(), bindings.end(), [sym](const Binding& b) { return b.sym == sym; });
    };
    auto isBinding = [&](int code) {
        return std::any_of(bindings.begin(), bindings.end(), [code](const Binding& b) { return b.code == code; });
    };
    // The layout's key for `sym`: the current group first, plain keys before
    // shifted ones; code 0 if none.
    auto layoutKey = [&](KeySym sym) {
        for (int g = 0; g < keymap.groups; ++g) {
            const int group = g == 0 ? keymap.currentGroup : (g <= keymap.currentGroup ? g - 1 : g);
            for (const bool shift : {false, true}) {
                if (shift && !result.shiftCode)
                    break;
                for (int code = keymap.minCode; code <= keymap.maxCode; ++code) {
                    if (keymap.typed(code, shift, group) == sym && !isBinding(code))
                        return Stroke{static_cast<KeyCode>(code), shift, true,
                                      group == keymap.currentGroup ? -1 : group};
                }
            }
        }
        return Stroke{0, false, false};
    };

    const std::set<KeySym> wanted(syms.begin(), syms.end());
    std::vector<std::pair<KeySym, Stroke>> plan;
    std::vector<KeySym> missing;
    for (KeySym sym : wanted) {
        if (const Stroke key = layoutKey(sym); key.code) {
            plan.push_back({sym, key});
        } else if (auto bound = boundTo(sym); bound != bindings.end()) {
            bound->lastUse = now;
            plan.push_back({sym, {bound->code, false, false}});
        } else {
            missing.push_back(sym);
        }
    }
    std::vector<KeySym> ahead;
    for (KeySym sym : kCardCharacters) {
        if (!wanted.count(sym) && boundTo(sym) == bindings.end() && !layoutKey(sym).code)
            ahead.push_back(sym);
    }

    if (!missing.empty() || !ahead.empty()) {
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
        for (KeySym sym : missing) {
            KeyCode code = 0;
            if (!spare.empty()) {
                code = spare.back();
                spare.pop_back();
            } else {
                // Reuse the binding unused longest, when that is long enough ago.
                auto oldest = bindings.end();
                for (auto it = bindings.begin(); it != bindings.end(); ++it) {
                    if (!wanted.count(it->sym) && now - it->lastUse >= kRebindAfter
                        && (oldest == bindings.end() || it->lastUse < oldest->lastUse))
                        oldest = it;
                }
                if (oldest == bindings.end())
                    return result;  // rather nothing than a text with holes
                code = oldest->code;
                bindings.erase(oldest);
            }
            result.bind.emplace_back(code, sym);
            bindings.push_back({sym, code, now});
            plan.push_back({sym, {code, false, false}});
            result.strokesNeedBind = true;
        }
        for (KeySym sym : ahead) {
            if (spare.size() <= kKeepSpare)
                break;
            result.bind.emplace_back(spare.back(), sym);
            bindings.push_back({sym, spare.back(), now});
            spare.pop_back();
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
