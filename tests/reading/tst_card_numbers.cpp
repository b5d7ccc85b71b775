// Card numbers: the canonical form, the six send formats, and the
// same-card filter.
#include "reading/CardFormat.h"
#include "reading/SameCardFilter.h"
#include "text/Printable.h"

#include <QtTest>

namespace {

QByteArray format(const QByteArray& field, bool reverse, int sendFormat)
{
    return FormatCardNumber(BuildCardHex(field, reverse), sendFormat).value_or("<error>");
}

}  // namespace

class TestCardNumbers : public QObject {
    Q_OBJECT
private slots:
    void workedExamples_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<QByteArray>("cardHex");
        QTest::addColumn<QStringList>("outputs");  // 8H 6H 10D 8D 16H D
        QTest::newRow("4 bytes") << QByteArray("1A2B3C4D") << false << QByteArray("000000001A2B3C4D")
                                 << QStringList{"1A2B3C4D", "2B3C4D",           "0439041101",
                                                "02833485", "000000001A2B3C4D", "439041101"};
        QTest::newRow("4 bytes reversed")
            << QByteArray("1A2B3C4D") << true << QByteArray("000000004D3C2B1A")
            << QStringList{"4D3C2B1A", "3C2B1A", "1295788826", "03943194", "000000004D3C2B1A", "1295788826"};
        QTest::newRow("8 bytes") << QByteArray("0123456789ABCDEF") << false << QByteArray("0123456789ABCDEF")
                                 << QStringList{"89ABCDEF", "ABCDEF",           "2309737967",
                                                "11259375", "0123456789ABCDEF", "2309737967"};
        QTest::newRow("8 bytes reversed")
            << QByteArray("0123456789ABCDEF") << true << QByteArray("EFCDAB8967452301")
            << QStringList{"67452301", "452301", "1732584193", "04530945", "EFCDAB8967452301", "1732584193"};
        QTest::newRow("type F") << QByteArray("04A1B2C3D4") << false << QByteArray("00000004A1B2C3D4")
                                << QStringList{"A1B2C3D4", "B2C3D4",           "2712847316",
                                               "11715540", "00000004A1B2C3D4", "2712847316"};
        QTest::newRow("type F reversed") << QByteArray("04A1B2C3D4") << true << QByteArray("000000D4C3B2A104")
                                         << QStringList{"C3B2A104", "B2A104",           "3283263748",
                                                        "11706628", "000000D4C3B2A104", "3283263748"};
    }
    void workedExamples()
    {
        QFETCH(QByteArray, field);
        QFETCH(bool, reverse);
        QFETCH(QByteArray, cardHex);
        QFETCH(QStringList, outputs);
        QCOMPARE(BuildCardHex(field, reverse), cardHex);
        for (int f = 0; f < kSendFormatCount; ++f)
            QCOMPARE(QString::fromLatin1(format(field, reverse, f)), outputs[f]);
    }

    void edgesOfTheFormats()
    {
        QCOMPARE(format("FFFFFFFF", false, Format10D), QByteArray("4294967295"));
        QCOMPARE(format("FFFFFFFF", false, FormatD), QByteArray("4294967295"));
        QCOMPARE(format("FFFFFFFF", false, Format8H), QByteArray("FFFFFFFF"));
        // 8D looks at the last six digits only.
        QCOMPARE(format("FF2B3C4D", false, Format8D), QByteArray("02833485"));
        // A long type F field keeps its last 16 characters.
        QCOMPARE(BuildCardHex("0102030405060708090A", false), QByteArray("030405060708090A"));
        // Lower case passes through hex formats and converts in decimal ones.
        QCOMPARE(format("1a2b3c4d", false, Format8H), QByteArray("1a2b3c4d"));
        QCOMPARE(format("1a2b3c4d", false, Format10D), QByteArray("0439041101"));
        // Formats outside 0..5 behave as 8H.
        QCOMPARE(format("1A2B3C4D", false, 7), QByteArray("1A2B3C4D"));
        QCOMPARE(format("1A2B3C4D", false, -1), QByteArray("1A2B3C4D"));
    }

    void badCharactersNeverReachTheOutput()
    {
        // A card number is hexadecimal: printable text, control characters and
        // bytes outside ASCII are refused in every format, wherever they stand.
        for (int f = 0; f < kSendFormatCount; ++f) {
            QVERIFY2(!FormatCardNumber(BuildCardHex("1A2B3CXZ", false), f), sendFormatCaption(f));
            QVERIFY2(!FormatCardNumber(BuildCardHex("rm -rf ~", false), f), sendFormatCaption(f));
            QVERIFY2(!FormatCardNumber(BuildCardHex("G000000012345678", false), f), sendFormatCaption(f));
            QVERIFY2(!FormatCardNumber(BuildCardHex("1A2B3C\r\n", false), f), sendFormatCaption(f));
            QVERIFY2(!FormatCardNumber(BuildCardHex("1A2B\x7F"
                                                    "C4D",
                                                    false),
                                       f),
                     sendFormatCaption(f));
            QVERIFY2(!FormatCardNumber(BuildCardHex("1A2B\xC3\xA9"
                                                    "4D",
                                                    false),
                                       f),
                     sendFormatCaption(f));
        }
        QCOMPARE(printable("1A\r\n"), QByteArray("1A\\x0D\\x0A"));
    }

    void filterOffPassesEverythingAndLeavesTheTableAlone()
    {
        SameCardFilter filter;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(filter.PassSameCardFilter("000000001A2B3C4D", 0), SameCardFilter::Verdict::Pass);
        QCOMPARE(filter.SameCardCount, 0);
    }

    void heldCardIsSuppressedUntilThePthTick()
    {
        SameCardFilter filter;
        const QByteArray card = "000000001A2B3C4D";
        QCOMPARE(filter.PassSameCardFilter(card, 5), SameCardFilter::Verdict::Pass);
        for (int tick = 1; tick < 5; ++tick) {
            QCOMPARE(filter.PassSameCardFilter(card, 5), SameCardFilter::Verdict::Repeat);
            filter.tick(5);
        }
        QCOMPARE(filter.PassSameCardFilter(card, 5), SameCardFilter::Verdict::Repeat);
        filter.tick(5);  // the 5th tick frees the entry
        QCOMPARE(filter.PassSameCardFilter(card, 5), SameCardFilter::Verdict::Pass);
    }

    void twoCardsAgeIndependently()
    {
        SameCardFilter filter;
        QCOMPARE(filter.PassSameCardFilter("A", 2), SameCardFilter::Verdict::Pass);
        filter.tick(2);
        QCOMPARE(filter.PassSameCardFilter("B", 2), SameCardFilter::Verdict::Pass);
        QCOMPARE(filter.PassSameCardFilter("A", 2), SameCardFilter::Verdict::Repeat);
        filter.tick(2);  // A is freed, B is one tick old
        QCOMPARE(filter.PassSameCardFilter("A", 2), SameCardFilter::Verdict::Pass);
        QCOMPARE(filter.PassSameCardFilter("B", 2), SameCardFilter::Verdict::Repeat);
        // A took the freed first entry instead of growing the table.
        QCOMPARE(filter.SameCardCount, 2);
        QCOMPARE(filter.entry(0).text, QByteArray("A"));
    }

    void newCardsPassWhenMoreThanTheFirstThousandAreLive()
    {
        SameCardFilter filter;
        const int cards = 3 * SameCardFilter::kInitialCapacity;
        for (int i = 0; i < cards; ++i)
            QCOMPARE(filter.PassSameCardFilter(QByteArray::number(i), 60), SameCardFilter::Verdict::Pass);
        // Repeats of every one of them, old and new, are still suppressed.
        for (const int i : {0, 999, 1000, cards - 1})
            QCOMPARE(filter.PassSameCardFilter(QByteArray::number(i), 60), SameCardFilter::Verdict::Repeat);
        for (int tick = 0; tick < 60; ++tick)
            filter.tick(60);
        QCOMPARE(filter.SameCardCount, 0);
        QCOMPARE(filter.PassSameCardFilter("0", 60), SameCardFilter::Verdict::Pass);
    }

    void filterTimeZeroStopsAgeingAndLoweringItFreesOldEntries()
    {
        SameCardFilter filter;
        QCOMPARE(filter.PassSameCardFilter("A", 10), SameCardFilter::Verdict::Pass);
        filter.tick(0);
        filter.tick(0);
        QCOMPARE(filter.entry(0).age, 1);
        filter.tick(10);
        filter.tick(10);
        QCOMPARE(filter.entry(0).age, 3);
        filter.tick(2);  // age 4 > 2: freed
        QCOMPARE(filter.entry(0).age, 0);
    }
};

QTEST_APPLESS_MAIN(TestCardNumbers)
#include "tst_card_numbers.moc"
