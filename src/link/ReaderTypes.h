// The six reader types: one table of data that the connect phase, the poll
// phase and auto-detection all read.
#pragma once

#include <QByteArray>
#include <QString>

enum class Framing { Soh, Tab, Binary };

// Where a card number sits in a poll reply of a given length. Positions
// count the reply's characters from 1, the start byte being character 1.
struct CardSlot {
    int replyLength;  // 0 ends the list
    int first;        // first card character; 0 takes all of ReplyText
    int count;        // number of card characters
};

struct ReaderType {
    const char* name;       // as listed in cmbReaderType
    Framing framing;
    char letter;            // command letter of the TAB framing, 0 otherwise
    int handshakeLength;    // ReplyLength of a good connect reply
    int idFirst;            // reader ID in the connect reply (two characters)
    int serialFirst;        // serial number in the connect reply (eight characters)
    CardSlot cards[3];      // poll reply lengths that carry a card
    int minCardLength;      // Type F: any frame this long or longer carries a card
};

constexpr int ReaderTypeCount = 6;
constexpr int TypeB = 1;
constexpr int TypeF = 5;

// Row 0..5, or nullptr for an index outside the table.
const ReaderType* readerType(int index);

// The connect command ("A07B", "07S", ...) of an ASCII reader type.
QByteArray handshakeCommand(const ReaderType& type, const QByteArray& id);
// The poll command ("A07F", "07C", ...) of an ASCII reader type.
QByteArray pollCommand(const ReaderType& type, const QByteArray& id);

// Type F's binary frames: the wake-up frame whose reply is ignored, the
// identity query and the poll.
QByteArray binaryWakeData();
QByteArray binaryIdentityData();
QByteArray binaryPollData();

// The card characters of a poll reply, or an empty text when a reply of
// `replyLength` carries no card.
QByteArray cardField(const ReaderType& type, int replyLength, const QByteArray& replyText);

// The reader ID of a Type F identity reply: its hexadecimal data text read
// as a decimal number, 0 when it is not one.
int binaryReaderId(const QByteArray& replyText);
