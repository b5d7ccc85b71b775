#include "Protocol.h"

#include "link/Frames.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace sim {

namespace {

constexpr std::size_t kMaxAsciiRequest = 64;  // longer frames are junk
constexpr std::size_t kMaxBinaryData = 256;

// A reader answers its own ID; the connect of the TAB framing types also
// answers ID 00, the address detection uses. Type B knows no such address.
bool Addressed(const ReaderState& reader, const std::string& id, bool connect)
{
    return id == reader.id || (connect && id == "00" && framingOf(reader.type) == Framing::Tab);
}

Command Ignore(std::string why)
{
    Command command;
    command.why = std::move(why);
    return command;
}

Command Do(Kind kind, char mode = 0)
{
    Command command;
    command.kind = kind;
    command.mode = mode;
    return command;
}

Command InterpretTab(const ReaderState& reader, const std::string& text)
{
    if (text.size() != 4)
        return Ignore("unknown command");
    if (text[0] != commandLetter(reader.type))
        return Ignore(std::string("command letter ") + text[0] + " is not this type's");
    const std::string id = text.substr(1, 2);
    if (!Addressed(reader, id, text[3] == 'B'))
        return Ignore("addressed to reader " + id);
    if (text[3] == 'B')
        return Do(Kind::Connect);
    if (text[3] == 'F')
        return Do(Kind::Poll);
    return Ignore("unknown command");
}

Command InterpretSoh(const ReaderState& reader, const std::string& text)
{
    if (text.size() < 3 || text.size() > 4)
        return Ignore("unknown command");
    const std::string id = text.substr(0, 2);
    if (!Addressed(reader, id, false))
        return Ignore("addressed to reader " + id);
    const std::string op = text.substr(2);
    if (op == "S")
        return Do(Kind::Connect);
    if (op == "C")
        return Do(Kind::Poll);
    if (op == "A")
        return Do(Kind::ModeQuery);
    if (op.size() == 2 && op[0] == 'A' && std::isdigit(static_cast<unsigned char>(op[1])))
        return Do(Kind::ModeSet, op[1]);
    return Ignore("unknown command");
}

Command InterpretBinary(const Bytes& data)
{
    if (data == Bytes{0x00, 0x00, 0x00, 0xE7})
        return Do(Kind::Wake);
    if (data == Bytes{0x00, 0x00, 0x00, 0x00})
        return Do(Kind::Identity);
    if (data == Bytes{0x00, 0x00, 0x00, 0xE5, 0x1F})
        return Do(Kind::Poll);
    return Ignore("unknown command");
}

// Frames::AsciiFrame with the chosen checksum faults. The checksum covers
// every byte of the reply, zero bytes (of a `field` fault) included.
Bytes StyledAscii(std::uint8_t start, const std::string& text, const ReplyStyle& style)
{
    Bytes frame = Frames::AsciiFrame(start, text);
    const std::size_t digits = frame.size() - 3;
    const std::uint8_t sum = Frames::XorChecksum(frame.data(), digits) ^ (style.badsum ? 0x11 : 0);
    const std::string pair = Frames::HexPair(sum);
    frame[digits] = static_cast<std::uint8_t>(pair[0]);
    frame[digits + 1] = static_cast<std::uint8_t>(pair[1]);
    if (style.lowercase) {
        frame[digits] = static_cast<std::uint8_t>(std::tolower(frame[digits]));
        frame[digits + 1] = static_cast<std::uint8_t>(std::tolower(frame[digits + 1]));
    }
    return frame;
}

std::string TabReplyText(const ReaderState& reader, const Command& command, const std::string& card)
{
    const std::string head = commandLetter(reader.type) + reader.id;
    if (command.kind == Kind::Connect)
        return head + "B" + reader.serial;
    // Type A marks a card with one digit, types C, D and E with two.
    const bool typeA = reader.type == 'A';
    if (card.empty())
        return head + "F" + (typeA ? "0" : "00");
    return head + "F" + (typeA ? "1" : "01") + card;
}

std::string SohReplyText(const ReaderState& reader, const Command& command, const std::string& card)
{
    switch (command.kind) {
    case Kind::Connect: return reader.id + "S" + reader.serial;
    case Kind::ModeQuery: return reader.id + "A" + reader.mode;
    case Kind::ModeSet: return reader.id + "A" + command.mode;
    default: break;
    }
    char count[8];
    std::snprintf(count, sizeof count, "%02d", static_cast<int>(card.size() / 2) % 100);
    return reader.id + "C" + count + card;
}

Bytes BinaryReply(const ReaderState& reader, const Command& command, const std::string& card, const ReplyStyle& style)
{
    // Four bytes the program does not look at, then the status byte.
    Bytes data{0x00, 0x00, 0x00, 0x00, 0x01};
    if (command.kind == Kind::Identity) {
        data.push_back(static_cast<std::uint8_t>(std::strtol(reader.id.c_str(), nullptr, 16)));
    } else if (command.kind == Kind::Poll) {
        if (card.empty()) {
            data[4] = 0x00;
        } else {
            const Bytes bytes = cardBytes(card);
            data.push_back(static_cast<std::uint8_t>(bytes.size()));
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
    }
    if (style.status0)
        data[4] = 0x00;
    Bytes frame = Frames::BinaryFrame(data);
    if (style.badsum)
        frame.back() ^= 0x11;
    return frame;
}

}  // namespace

Framing framingOf(char type)
{
    return type == 'B' ? Framing::Soh : type == 'F' ? Framing::Binary : Framing::Tab;
}

char commandLetter(char type)
{
    switch (type) {
    case 'A': return 'A';
    case 'C': return 'H';
    case 'D': return 'I';
    case 'E': return 'J';
    default: return 0;
    }
}

int defaultBaud(char type)
{
    return type == 'B' ? 115200 : 19200;
}

void RequestAssembler::reset(Framing framing)
{
    framing_ = framing;
    buffer_.clear();
}

std::optional<Request> RequestAssembler::feed(std::uint8_t byte)
{
    return framing_ == Framing::Binary ? feedBinary(byte) : feedAscii(byte);
}

std::optional<Request> RequestAssembler::feedAscii(std::uint8_t byte)
{
    const std::uint8_t start = framing_ == Framing::Tab ? Frames::TAB : Frames::SOH;
    if (byte == start) {
        // A start byte anywhere begins a new request.
        buffer_.assign(1, start);
        return std::nullopt;
    }
    if (buffer_.empty())
        return std::nullopt;  // junk between requests
    if (byte == Frames::CR) {
        Request request;
        request.frame = buffer_;
        request.frame.push_back(byte);
        buffer_.clear();
        const std::size_t size = request.frame.size();
        if (size >= 4) {
            request.text.assign(request.frame.begin() + 1, request.frame.end() - 3);
            const std::string expected = Frames::HexPair(Frames::XorChecksum(request.frame.data(), size - 3));
            request.checksumOk = std::toupper(request.frame[size - 3]) == expected[0]
                && std::toupper(request.frame[size - 2]) == expected[1];
        }
        return request;
    }
    if (byte < 0x20 || byte > 0x7E || buffer_.size() >= kMaxAsciiRequest) {
        buffer_.clear();  // requests are printable text: this one is garbled
        return std::nullopt;
    }
    buffer_.push_back(byte);
    return std::nullopt;
}

std::optional<Request> RequestAssembler::feedBinary(std::uint8_t byte)
{
    if (buffer_.empty()) {
        if (byte == Frames::BIN)
            buffer_.push_back(byte);
        return std::nullopt;
    }
    if (buffer_.size() < 3 && byte == Frames::BIN) {
        // Junk ahead of a frame: 0xAA in the length field starts over.
        buffer_.assign(1, Frames::BIN);
        return std::nullopt;
    }
    buffer_.push_back(byte);
    if (buffer_.size() < 3)
        return std::nullopt;
    const std::size_t length = buffer_[1] * 256u + buffer_[2];
    if (length == 0 || length > kMaxBinaryData) {
        buffer_.clear();
        return std::nullopt;
    }
    if (buffer_.size() < length + 4)
        return std::nullopt;

    Request request;
    request.frame = buffer_;
    buffer_.clear();
    request.data.assign(request.frame.begin() + 3, request.frame.end() - 1);
    request.checksumOk = Frames::XorChecksum(request.frame.data() + 1, length + 2) == request.frame.back();
    return request;
}

Command interpret(const ReaderState& reader, const Request& request)
{
    if (!request.checksumOk)
        return Ignore("wrong checksum");
    switch (framingOf(reader.type)) {
    case Framing::Tab: return InterpretTab(reader, request.text);
    case Framing::Soh: return InterpretSoh(reader, request.text);
    case Framing::Binary: return InterpretBinary(request.data);
    }
    return Ignore("unknown command");
}

Bytes reply(const ReaderState& reader, const Command& command, const std::string& card, const ReplyStyle& style)
{
    switch (framingOf(reader.type)) {
    case Framing::Tab: return StyledAscii(Frames::LF, TabReplyText(reader, command, card), style);
    case Framing::Soh: return StyledAscii(Frames::STX, SohReplyText(reader, command, card), style);
    case Framing::Binary: return BinaryReply(reader, command, card, style);
    }
    return {};
}

Bytes junkBytes(int count)
{
    // Printable characters only: never a start byte (0x02, 0x0A, 0xAA) nor CR.
    static const char pattern[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    Bytes junk(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<std::uint8_t>(pattern[i % (sizeof pattern - 1)]);
    return junk;
}

Bytes cardBytes(const std::string& hex)
{
    const std::string digits = hex.size() % 2 ? "0" + hex : hex;
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::strtol(digits.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

std::string printable(const Bytes& bytes, Framing framing)
{
    std::string line;
    char hex[8];
    for (std::uint8_t byte : bytes) {
        if (framing == Framing::Binary) {
            std::snprintf(hex, sizeof hex, line.empty() ? "%02X" : " %02X", byte);
            line += hex;
        } else if (byte >= 0x20 && byte <= 0x7E) {
            line += static_cast<char>(byte);
        } else {
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            line += hex;
        }
    }
    return line;
}

void CardSchedule::hold(const std::string& card)
{
    list_.clear();
    held_ = card;
}

void CardSchedule::clear()
{
    list_.clear();
    held_.clear();
}

void CardSchedule::play(const std::vector<std::string>& cards, int periodMs, int gapMs, bool repeat)
{
    held_.clear();
    list_ = cards;
    started_ = false;
    periodMs_ = periodMs;
    gapMs_ = gapMs;
    repeat_ = repeat;
}

std::string CardSchedule::cardAt(Clock::time_point now)
{
    if (list_.empty())
        return held_;
    if (!started_) {
        started_ = true;
        start_ = now;
    }
    const long long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
    const long long slot = periodMs_ + gapMs_;
    long long index = elapsed / slot;
    if (index >= static_cast<long long>(list_.size())) {
        if (!repeat_)
            return {};
        index %= static_cast<long long>(list_.size());
    }
    return elapsed % slot < periodMs_ ? list_[static_cast<std::size_t>(index)] : std::string();
}

}  // namespace sim
