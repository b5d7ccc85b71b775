// From the text of a card to the keysyms that type it. Shared by the
// keyboard outputs that speak in keysyms (X11, Wayland, the desktop portal);
// header-only and free of Qt and X so each of them can use it alone.
#pragma once

#include "text/Utf8.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keysyms {

constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kComma = 0x2c;
constexpr std::uint32_t kTab = 0xff09;
constexpr std::uint32_t kReturn = 0xff0d;

// The keysym that stands for one character; kNone for control characters
// that have no key of their own.
inline std::uint32_t forCharacter(char32_t cp)
{
    if (cp == '\n' || cp == '\r')
        return kReturn;
    if (cp == '\t')
        return kTab;
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp > 0x10FFFF)
        return kNone;
    if (cp <= 0xFF)
        return cp;  // ASCII and Latin-1 keysyms equal their code points
    return 0x01000000 + cp;
}

// Every key of one card in order: the text, then the comma, then Return.
inline std::vector<std::uint32_t> forCard(const std::string& text, bool addComma, bool addEnter)
{
    std::vector<std::uint32_t> out;
    for (char32_t cp : utf8::codePoints(text)) {
        if (const std::uint32_t sym = forCharacter(cp))
            out.push_back(sym);
    }
    if (addComma)
        out.push_back(kComma);
    if (addEnter)
        out.push_back(kReturn);
    return out;
}

}  // namespace keysyms
