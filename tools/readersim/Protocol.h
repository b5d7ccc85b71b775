// The reader side of the protocol: assembling requests from the byte stream,
// deciding what a request asks for, building the reply, and which card lies
// on the reader at a given moment. No I/O here.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

enum class Framing { Tab, Soh, Binary };

// Types 'A'..'F'.
Framing framingOf(char type);
// The command letter of the TAB framing types (A, C, D, E); 0 for B and F.
char commandLetter(char type);
int defaultBaud(char type);

struct Request {
    Bytes frame;  // the whole frame, start byte included
    bool checksumOk = false;
    std::string text;  // ASCII framings: the characters between start byte and checksum
    Bytes data;        // binary framing: the data bytes
};

// Collects the requests of one framing from a stream that may be split
// anywhere and may carry junk between (or inside) frames.
class RequestAssembler {
public:
    explicit RequestAssembler(Framing framing = Framing::Tab) : framing_(framing) { }
    void reset(Framing framing);
    // A complete frame, good checksum or not, once `byte` ends one.
    std::optional<Request> feed(std::uint8_t byte);

private:
    std::optional<Request> feedAscii(std::uint8_t byte);
    std::optional<Request> feedBinary(std::uint8_t byte);

    Framing framing_;
    Bytes buffer_;
};

struct ReaderState {
    char type = 'A';
    std::string id = "01";            // two hexadecimal digits, usually decimal ones
    std::string serial = "12345678";  // eight printable characters
    char mode = '1';                  // Type B only
};

enum class Kind { None, Connect, Poll, ModeQuery, ModeSet, Wake, Identity };

struct Command {
    Kind kind = Kind::None;
    char mode = 0;    // ModeSet: the new mode
    std::string why;  // None: why the request is not answered
};

// What `request` asks the reader for; Kind::None when the reader keeps quiet.
Command interpret(const ReaderState& reader, const Request& request);

// Faults the reply can be given on purpose.
struct ReplyStyle {
    bool badsum = false;     // a wrong checksum
    bool lowercase = false;  // checksum digits in lower case (ASCII framings)
    bool status0 = false;    // status byte 0 (binary framing)
};

// The reply frame to `command` (not Kind::None); `card` is the card on the
// reader, empty for none.
Bytes reply(const ReaderState& reader, const Command& command, const std::string& card, const ReplyStyle& style);

// `count` junk bytes that contain no start byte of any reply framing.
Bytes junkBytes(int count);

// The bytes of a hexadecimal card number; an odd number of digits gets a
// leading zero.
Bytes cardBytes(const std::string& hex);

// A frame as one log line: printable characters as they are, other bytes
// as <HH>; binary frames entirely as hexadecimal.
std::string printable(const Bytes& bytes, Framing framing);

// The card on the reader: one held card, or a list presented in turn.
class CardSchedule {
public:
    using Clock = std::chrono::steady_clock;

    void hold(const std::string& card);
    void clear();
    // Each card stays `periodMs`, followed by `gapMs` without a card. The
    // list starts with the first cardAt() call after play().
    void play(const std::vector<std::string>& cards, int periodMs, int gapMs, bool repeat);
    std::string cardAt(Clock::time_point now);

private:
    std::string held_;
    std::vector<std::string> list_;
    bool started_ = false;
    Clock::time_point start_;
    int periodMs_ = 1000;
    int gapMs_ = 500;
    bool repeat_ = false;
};

}  // namespace sim
