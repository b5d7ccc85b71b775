// The six reader types: one table of data that holds everything in which the
// types differ (framing, commands, reply lengths, character positions, line
// settings, their place in the detection walk, how the identity is shown).
// The connect phase, the poll phase and auto-detection all go through the
// functions below; no other code looks at a type's framing or index.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class ReaderLink;

enum class Framing { Soh, Tab, Binary };

// Where a card number sits in a poll reply of a given length. Positions
// count the reply's characters from 1, the start byte being character 1.
struct CardSlot {
    int replyLength;  // 0 ends the list
    int first;        // first card character; 0 takes all of ReplyText
    int count;        // number of card characters
};

// A request: for the ASCII framings the text before and after the reader's
// two ID digits; for the binary framing the data bytes in hexadecimal.
struct Request {
    const char* before;
    const char* after;
};

struct ReaderType {
    const char* name;  // as listed in cmbReaderType
    Framing framing;
    const char* wake;  // hex data sent before the connect request, reply ignored; or nullptr
    Request connect;
    int connectLength;          // ReplyLength of a good connect reply
    int idFirst;                // reader ID in the connect reply (two characters); 0: the binary data
    const char* identityLabel;  // "  S/N:" (serial number) or "  ID:" (reader ID)
    int serialFirst;            // serial number in the connect reply (eight characters)
    Request modeQuery;          // asked after a connect, or {nullptr}: the reader has no modes
    Request modeSet;            // puts the reader into mode "0"
    Request poll;
    int pollTimeout;           // ReplyTimeout of a poll, ms
    CardSlot cards[3];         // poll reply lengths that carry a card
    int minCardLength;         // binary: any frame this long or longer carries a card
    const char* lineSettings;  // what detection probes the type at
    const char* detectId;      // the reader ID detection asks for
    int detectPause;           // ms before each detection request
};

constexpr int kReaderTypeCount = 6;

// The line settings that every type but B comes set to: what detection
// tries them at, and so the line settings the program starts with.
constexpr char kDefaultLineSettings[] = "19200,e,8,1";

// Row 0..5, or nullptr for an index outside the table.
const ReaderType* readerType(int index);

// The types in the order detection tries them on each port; a type listed
// twice is asked twice (type E readers may miss the first request after a
// quiet spell). Consecutive types with the same line settings share one open
// of the port and are tried kDetectionRounds times.
struct DetectionWalk {
    const int* types;
    int count;
};
DetectionWalk detectionWalk();
constexpr int kDetectionRounds = 2;

// The request's bytes for the reader with ID `id` (two digits).
QByteArray requestData(const Request& request, const QByteArray& id);

// Sends `request` in the type's framing; true when a valid reply came.
bool transact(ReaderLink& link, const ReaderType& type, const Request& request, const QByteArray& id);

// One connect handshake: the wake request (after `wakePause` ms), then the
// connect request. The identity text ("  S/N:12345678", "  ID:25") when
// the reply is good.
std::optional<QString> handshake(ReaderLink& link, const ReaderType& type, const QByteArray& id, int wakePause = 0);

// The reader ID that a good connect reply names, 0..99: two digits read as
// a decimal number (1 when they are not one) or the binary data byte taken
// as binary-coded decimal (0 when it is not).
int connectReplyReaderId(const ReaderType& type, const QByteArray& replyText);

// A reader with modes must be in mode "0" to report cards: asks for its
// mode and switches it when needed. Nothing for the other types.
void settleMode(ReaderLink& link, const ReaderType& type, const QByteArray& id);

// One poll: whether the transaction succeeded, and the card characters of
// its reply (empty when it carries no card). A card field that holds a zero
// byte would come out cut short and pass for a smaller number: it is no
// card, and `faulty` holds it as sent.
struct PollReply {
    bool ok = false;
    QByteArray card;
    QByteArray faulty;
};
PollReply pollCard(ReaderLink& link, const ReaderType& type, const QByteArray& id);

// The card characters of a poll reply, or an empty text when a reply of
// `replyLength` carries no card.
QByteArray cardField(const ReaderType& type, int replyLength, const QByteArray& replyText);

// The reader ID of a binary identity reply: its hexadecimal data text read
// as a decimal number, 0 when it is not one.
int binaryReaderId(const QByteArray& replyText);
// The reader ID of an ASCII identity reply: the two characters read as a
// decimal number, 1 when they are not one.
int asciiReaderId(const QByteArray& idCharacters);
