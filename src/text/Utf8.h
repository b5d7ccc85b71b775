// UTF-8 decoding, strict: the one reading of UTF-8 the program has, for
// file names kept byte for byte (FileNameBytes.h) and for the characters of
// a card to be typed (output/KeySymbols.h). Header-only and free of Qt, so
// that the keyboard outputs built without Qt can use it too.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace utf8 {

// One character at the start of some bytes: its length in bytes (1 to 4)
// and its code point; length 0 when the bytes there are no valid UTF-8 (a
// stray continuation byte, an overlong form, a surrogate, a code point past
// U+10FFFF, a sequence cut short).
struct Sequence {
    std::size_t length = 0;
    char32_t codePoint = 0;
};

inline Sequence sequenceAt(std::string_view bytes)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.empty())
        return {};
    const unsigned char lead = at(0);
    if (lead < 0x80)
        return {1, lead};
    std::size_t length = 0;
    char32_t codePoint = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return {};
    }
    if (bytes.size() < length || at(1) < low || at(1) > high)
        return {};
    for (std::size_t i = 1; i < length; ++i) {
        if ((at(i) & 0xC0) != 0x80)
            return {};
        codePoint = (codePoint << 6) | (at(i) & 0x3F);
    }
    return {length, codePoint};
}

// Every character of `text`; a byte that starts no valid sequence is left out.
inline std::vector<char32_t> codePoints(std::string_view text)
{
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const Sequence sequence = sequenceAt(text.substr(i));
        if (sequence.length == 0) {
            ++i;
            continue;
        }
        out.push_back(sequence.codePoint);
        i += sequence.length;
    }
    return out;
}

}  // namespace utf8
