// Frame building and the two reply assemblers, byte by byte.
#include "link/Frames.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Frames;

namespace {

QByteArray bytes(const std::vector<std::uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

// Feeds `input` in chunks of the given sizes (cycled) and returns the result
// at the first completed frame, or nullopt when none completed.
template <typename Feed> std::optional<bool> feedAll(const QByteArray& input, Feed feed)
{
    for (char c : input) {
        if (auto done = feed(static_cast<std::uint8_t>(c)))
            return done;
    }
    return std::nullopt;
}

std::optional<bool> feedAsciiText(ReplyState& r, std::uint8_t start, const QByteArray& input)
{
    return feedAll(input, [&](std::uint8_t b) { return Frames::feedAscii(r, start, b); });
}

std::optional<bool> feedBinaryText(ReplyState& r, const QByteArray& input)
{
    return feedAll(input, [&](std::uint8_t b) { return Frames::feedBinary(r, b); });
}

QByteArray binaryReply(std::uint8_t status, const QByteArray& data)
{
    std::vector<std::uint8_t> payload = {0, 0, 0, 0, status};
    payload.insert(payload.end(), data.begin(), data.end());
    return bytes(BinaryFrame(payload));
}

}  // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void requestFramesAreByteExact()
    {
        QCOMPARE(bytes(AsciiFrame(SOH, "01S")).toHex(' '), QByteArray("01 30 31 53 35 33 0d"));
        QCOMPARE(bytes(AsciiFrame(TAB, "A00B")).toHex(' '), QByteArray("09 41 30 30 42 30 41 0d"));
        QCOMPARE(bytes(BinaryFrame({0, 0, 0, 0})).toHex(' '), QByteArray("aa 00 04 00 00 00 00 04"));
        QCOMPARE(bytes(BinaryFrame({0, 0, 0, 0xE7})).toHex(' '), QByteArray("aa 00 04 00 00 00 e7 e3"));
        QCOMPARE(bytes(BinaryFrame({0, 0, 0, 0xE5, 0x1F})).toHex(' '), QByteArray("aa 00 05 00 00 00 e5 1f ff"));
    }

    void hexPairIsUpperCase()
    {
        QCOMPARE(QByteArray::fromStdString(HexPair(0xAB)), QByteArray("AB"));
        QCOMPARE(QByteArray::fromStdString(HexPair(0x05)), QByteArray("05"));
        QCOMPARE(XorChecksum(nullptr, 0), std::uint8_t(0));
    }

    void asciiReplyWholeOrInPieces_data()
    {
        QTest::addColumn<int>("chunk");
        QTest::newRow("whole") << 1000;
        QTest::newRow("byte by byte") << 1;
        QTest::newRow("threes") << 3;
    }
    void asciiReplyWholeOrInPieces()
    {
        QFETCH(int, chunk);
        const QByteArray frame = bytes(AsciiFrame(LF, "A01B12345678"));
        ReplyState r;
        std::optional<bool> done;
        for (qsizetype at = 0; at < frame.size() && !done; at += chunk)
            done = feedAsciiText(r, LF, frame.mid(at, chunk));
        QVERIFY(done.has_value());
        QVERIFY(*done);
        QCOMPARE(r.ReplyLength, 16);
        QCOMPARE(QByteArray::fromStdString(r.ReplyText), frame);
    }

    void noiseBeforeTheStartIsDropped()
    {
        ReplyState r;
        const QByteArray frame = bytes(AsciiFrame(LF, "A01B12345678"));
        QCOMPARE(feedAsciiText(r, LF, QByteArray("AB") + frame), std::optional<bool>(true));
        QCOMPARE(r.ReplyLength, frame.size());
    }

    void aSecondStartByteRestartsTheFrame()
    {
        ReplyState r;
        const QByteArray frame = bytes(AsciiFrame(STX, "01S12345678"));
        QCOMPARE(feedAsciiText(r, STX,
                               QByteArray("\x02"
                                          "01S99")
                                   + frame),
                 std::optional<bool>(true));
        QCOMPARE(QByteArray::fromStdString(r.ReplyText), frame);
    }

    void badChecksumFailsAndKeepsTheOldText()
    {
        ReplyState r;
        r.ReplyText = "previous";
        QByteArray frame = bytes(AsciiFrame(LF, "A01B12345678"));
        frame[frame.size() - 2] = frame[frame.size() - 2] == '0' ? '1' : '0';
        QCOMPARE(feedAsciiText(r, LF, frame), std::optional<bool>(false));
        QCOMPARE(r.ReplyLength, 16);
        QCOMPARE(r.ReplyText, std::string("previous"));
    }

    void lowerCaseChecksumDigitsFail()
    {
        // Pick a text whose checksum has a letter digit.
        for (const char* text : {"A01B12345678", "A01B1234567A", "A01B1234567B", "A01B1234567C"}) {
            QByteArray frame = bytes(AsciiFrame(LF, text));
            const QByteArray sum = frame.mid(frame.size() - 3, 2);
            if (sum == sum.toLower())
                continue;
            frame.replace(frame.size() - 3, 2, sum.toLower());
            ReplyState r;
            QCOMPARE(feedAsciiText(r, LF, frame), std::optional<bool>(false));
            return;
        }
        QFAIL("no test text with a letter in its checksum");
    }

    void aCarriageReturnOutsideAFrameIsJustStored()
    {
        ReplyState r;
        QCOMPARE(feedAsciiText(r, LF, "\r\r"), std::nullopt);
        QCOMPARE(r.ReplyLength, 2);
    }

    void asciiLengthWrapsAt1024()
    {
        ReplyState r;
        QCOMPARE(feedAsciiText(r, LF, QByteArray(1023, 'x')), std::nullopt);
        QCOMPARE(r.ReplyLength, 1023);
        QCOMPARE(feedAsciiText(r, LF, "x"), std::nullopt);
        QCOMPARE(r.ReplyLength, 0);
        // The frame after the wrap is complete and good.
        QCOMPARE(feedAsciiText(r, LF, bytes(AsciiFrame(LF, "A01B12345678"))), std::optional<bool>(true));
    }

    void binaryGoodReplyGivesItsDataAsHex()
    {
        ReplyState r;
        QCOMPARE(feedBinaryText(r, binaryReply(1, QByteArray::fromHex("25"))), std::optional<bool>(true));
        QCOMPARE(r.ReplyLength, 10);
        QCOMPARE(r.ReplyText, std::string("25"));
        ReplyState card;
        QCOMPARE(feedBinaryText(card, binaryReply(1, QByteArray::fromHex("04a1b2c3d4"))), std::optional<bool>(true));
        QCOMPARE(card.ReplyLength, 14);
        QCOMPARE(card.ReplyText, std::string("04A1B2C3D4"));
    }

    void binaryStatusZeroOrBadSumIsTrueWithNothing()
    {
        ReplyState r;
        QCOMPARE(feedBinaryText(r, binaryReply(0, QByteArray::fromHex("25"))), std::optional<bool>(true));
        QCOMPARE(r.ReplyLength, 0);
        QVERIFY(r.ReplyText.empty());

        QByteArray bad = binaryReply(1, QByteArray::fromHex("25"));
        bad[bad.size() - 1] = static_cast<char>(bad[bad.size() - 1] ^ 0x55);
        ReplyState s;
        s.ReplyText = "old";
        QCOMPARE(feedBinaryText(s, bad), std::optional<bool>(true));
        QCOMPARE(s.ReplyLength, 0);
        QVERIFY(s.ReplyText.empty());
    }

    void binaryStartByteRestartsOnlyEarly()
    {
        // 0xAA among the first seven bytes restarts the frame ...
        ReplyState r;
        QCOMPARE(feedBinaryText(r, QByteArray::fromHex("aa0006") + binaryReply(1, QByteArray::fromHex("07"))),
                 std::optional<bool>(true));
        QCOMPARE(r.ReplyText, std::string("07"));
        // ... but from the eighth byte on it is data.
        ReplyState d;
        QCOMPARE(feedBinaryText(d, binaryReply(1, QByteArray::fromHex("aaaa"))), std::optional<bool>(true));
        QCOMPARE(d.ReplyText, std::string("AAAA"));
    }

    void binaryLengthBelowFourNeverCompletes()
    {
        ReplyState r;
        QByteArray frame = QByteArray::fromHex("aa0003000000");
        frame += QByteArray(40, '\x01');
        QCOMPARE(feedBinaryText(r, frame), std::nullopt);
    }

    void randomChunksNeverBreakAGoodFrame()
    {
        // Noise without start bytes, then a good frame: always found.
        auto* random = QRandomGenerator::global();
        for (int round = 0; round < 200; ++round) {
            QByteArray noise;
            const int n = random->bounded(0, 40);
            for (int i = 0; i < n; ++i)
                noise += static_cast<char>(random->bounded(0x20, 0x7F));
            ReplyState r;
            const QByteArray frame = bytes(AsciiFrame(LF, "H07F0112345678"));
            QCOMPARE(feedAsciiText(r, LF, noise + frame), std::optional<bool>(true));
            QCOMPARE(r.ReplyLength, 18);
        }
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
