#include "Frames.h"

#include <cstring>

namespace Frames {

std::uint8_t XorChecksum(const std::uint8_t* bytes, std::size_t count)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum ^= bytes[i];
    return sum;
}

std::string HexPair(std::uint8_t byte)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[byte >> 4], digits[byte & 0x0F]};
}

std::vector<std::uint8_t> AsciiFrame(std::uint8_t start, const std::string& text)
{
    std::vector<std::uint8_t> frame;
    frame.reserve(text.size() + 4);
    frame.push_back(start);
    frame.insert(frame.end(), text.begin(), text.end());
    // The checksum runs up to the first zero byte, as a C string would.
    std::size_t covered = 0;
    while (covered < frame.size() && frame[covered] != 0)
        ++covered;
    const std::string check = HexPair(XorChecksum(frame.data(), covered));
    frame.insert(frame.end(), check.begin(), check.end());
    frame.push_back(CR);
    return frame;
}

std::vector<std::uint8_t> BinaryFrame(const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + 4);
    frame.push_back(BIN);
    frame.push_back(static_cast<std::uint8_t>(data.size() >> 8));
    frame.push_back(static_cast<std::uint8_t>(data.size() & 0xFF));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(XorChecksum(frame.data() + 1, frame.size() - 1));
    return frame;
}

bool ReplyChecksumOk(const ReplyState& reply)
{
    const int length = reply.ReplyLength;
    if (length < 4)
        return false;
    const std::string expected = HexPair(XorChecksum(reply.ReplyBuffer, static_cast<std::size_t>(length - 3)));
    return reply.ReplyBuffer[length - 3] == static_cast<std::uint8_t>(expected[0])
        && reply.ReplyBuffer[length - 2] == static_cast<std::uint8_t>(expected[1]);
}

std::optional<bool> feedAscii(ReplyState& reply, std::uint8_t start, std::uint8_t byte)
{
    reply.ReplyBuffer[reply.ReplyLength] = byte;
    if (++reply.ReplyLength == kBufferSize)
        reply.ReplyLength = 0;

    if (byte == start) {
        // A start byte anywhere begins a new frame.
        reply.ReplyBuffer[0] = start;
        reply.ReplyLength = 1;
        return std::nullopt;
    }
    if (byte != CR || reply.ReplyBuffer[0] != start)
        return std::nullopt;

    reply.ReplyBuffer[reply.ReplyLength] = 0;
    if (!ReplyChecksumOk(reply))
        return false;
    const char* text = reinterpret_cast<const char*>(reply.ReplyBuffer);
    reply.ReplyText.assign(text, strnlen(text, static_cast<std::size_t>(reply.ReplyLength)));
    return true;
}

std::optional<bool> feedBinary(ReplyState& reply, std::uint8_t byte)
{
    reply.ReplyBuffer[reply.ReplyLength] = byte;
    if (++reply.ReplyLength == kBufferSize) {
        reply.ReplyLength = 0;
        return std::nullopt;
    }
    const int length = reply.ReplyLength;
    if (length <= 7 && byte == BIN) {
        // Among the first seven bytes 0xAA always restarts; later it is data.
        reply.ReplyBuffer[0] = BIN;
        reply.ReplyLength = 1;
        return std::nullopt;
    }
    if (length < 8 || length != reply.ReplyBuffer[1] * 256 + reply.ReplyBuffer[2] + 4)
        return std::nullopt;

    const std::uint8_t sum = XorChecksum(reply.ReplyBuffer + 1, static_cast<std::size_t>(length - 2));
    reply.ReplyText.clear();
    if (sum == reply.ReplyBuffer[length - 1] && reply.ReplyBuffer[7] == 1) {
        for (int i = 8; i <= length - 2; ++i)
            reply.ReplyText += HexPair(reply.ReplyBuffer[i]);
    } else {
        reply.ReplyLength = 0;
    }
    return true;
}

}  // namespace Frames
