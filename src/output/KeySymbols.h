// From the text of a card to the keysyms that type it. Shared by the
// keyboard outputs that speak in keysyms (X11, Wayland, the desktop portal);
// header-only and free of Qt and X so each of them can use it alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace keysyms {

constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kComma = 0x2c;
constexpr std::uint32_t kTab = 0xff09;
constexpr std::uint32_t kReturn = 0xff0d;

// Decodes UTF-8, skipping malformed bytes.
inline std::vector<char32_t> codePoints(const std::string& text)
{
    std::vector<char32_t> out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        int extra;
        char32_t cp;
        if (c < 0x80) {
            extra = 0;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            ++i;
            continue;
        }
        bool ok = i + extra < n;
        for (int k = 1; ok && k <= extra; ++k) {
            ok = (s[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (!ok) {
            ++i;
            continue;
        }
        i += extra + 1;
        out.push_back(cp);
    }
    return out;
}

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
    for (char32_t cp : codePoints(text)) {
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
