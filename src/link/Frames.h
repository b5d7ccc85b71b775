// Byte-level framing of the three reader protocols. Plain code with no I/O,
// shared by the program and the simulated reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Frames {

constexpr std::uint8_t SOH = 0x01;  // starts a request of the SOH framing
constexpr std::uint8_t STX = 0x02;  // starts its reply
constexpr std::uint8_t TAB = 0x09;  // starts a request of the TAB framing
constexpr std::uint8_t LF = 0x0A;   // starts its reply
constexpr std::uint8_t CR = 0x0D;   // ends every ASCII frame
constexpr std::uint8_t BIN = 0xAA;  // starts every binary frame

constexpr int kBufferSize = 1024;

std::uint8_t XorChecksum(const std::uint8_t* bytes, std::size_t count);

// Two upper-case hexadecimal digits, high nibble first.
std::string HexPair(std::uint8_t byte);

// start + text + HexPair(xor of start and text) + CR. Requests and replies of
// both ASCII framings share this shape.
std::vector<std::uint8_t> AsciiFrame(std::uint8_t start, const std::string& text);

// 0xAA, 16-bit big-endian length, data, xor of the length bytes and data.
std::vector<std::uint8_t> BinaryFrame(const std::vector<std::uint8_t>& data);

// The reply of the last transaction, as the callers read it.
struct ReplyState {
    std::uint8_t ReplyBuffer[kBufferSize] = {};
    int ReplyLength = 0;
    std::string ReplyText;
};

// True when the complete ASCII reply of ReplyLength bytes carries the right
// checksum digits (upper case only).
bool ReplyChecksumOk(const ReplyState& reply);

// Feeds one received byte to the assembler of an ASCII framing whose replies
// start with `start`. Empty while the frame is incomplete; otherwise the
// transaction's result.
std::optional<bool> feedAscii(ReplyState& reply, std::uint8_t start, std::uint8_t byte);

// Feeds one received byte to the binary assembler. Empty while incomplete;
// true once a complete frame arrived (ReplyText holds its data when it was
// good, and is empty with ReplyLength 0 when its checksum or status was not).
std::optional<bool> feedBinary(ReplyState& reply, std::uint8_t byte);

}  // namespace Frames
