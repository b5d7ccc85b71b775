// PortalKeyboard against the stand-in portal on a private session bus: the
// session it asks for, the restore token handed on to the next start (and
// none asked of a portal that cannot keep it), many cards' keysyms in order
// from a portal that reorders what comes at once, a stalled or vanished
// portal that leaves no key down and no card unreported, and what a
// refusal or a missing portal leaves.
#include "output/KeySymbols.h"
#include "output/TypeCard.h"
#include "output/portal/PortalKeyboard.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Notice = KeyboardOutput::Notice;

struct Notices {
    QList<Notice> kinds;
    QStringList tokens;
    QStringList notTyped;
    KeyboardOutput::NoticeHandler handler()
    {
        return [this](Notice kind, const std::string& detail) {
            if (kind == Notice::RestoreToken)
                tokens << QString::fromStdString(detail);
            else if (kind == Notice::NotTyped)
                notTyped << QString::fromStdString(detail);
            else
                kinds << kind;
        };
    }
};

QStringList keysymCalls(const QStringList& calls)
{
    return calls.filter(QRegularExpression("^Keysym "));
}

// The calls that type `cards`, each with comma and Enter.
QStringList expectedKeys(const QStringList& cards)
{
    QStringList keys;
    for (const QString& card : cards) {
        for (std::uint32_t sym : keysyms::forCard(card.toStdString(), true, true))
            keys << QString("Keysym %1 1").arg(sym) << QString("Keysym %1 0").arg(sym);
    }
    return keys;
}

// Runs the event loop as the program does until `keyboard` has typed all it
// was given (QTest's own waiting sleeps 10 ms between rounds, which would be
// most of the time measured).
bool runUntilIdle(const PortalKeyboard& keyboard, int timeoutMs)
{
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (!keyboard.busy())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    tick.start(1);
    loop.exec();
    return !keyboard.busy();
}

}  // namespace

class TestPortalKeyboard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sessionTokenAndKeys();
    void manyCardsInOrder();
    void noPersistenceOffered();
    void stalledOrVanished();
    void refusedOrMissing();

private:
    QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(bus_.address(), name); }

    PrivateBus bus_;
    QTemporaryDir dir_;
};

void TestPortalKeyboard::initTestCase()
{
    QString error;
    QVERIFY2(bus_.start(&error), qPrintable(error));
}

void TestPortalKeyboard::sessionTokenAndKeys()
{
    QVERIFY(bus_.startPortal(dir_.filePath("grant.log")));
    Notices first;
    {
        PortalKeyboard keyboard(connect("first"));
        QVERIFY(keyboard.present());
        QVERIFY(typeCard(keyboard, KeyboardOutput::kFocusedWindow, "1", false, false, {}) != TypeResult::Typed);
        keyboard.start({}, first.handler());
        QTRY_VERIFY(keyboard.ready());
        QVERIFY(keyboard.followsFocus());
        QCOMPARE(first.tokens, QStringList{"token-1"});

        std::string clipboard;
        QVERIFY(typeCard(keyboard, keyboard.foregroundWindow(), "1A", true, true,
                         [&](const std::string& text) { clipboard = text; })
                == TypeResult::Typed);
        QCOMPARE(clipboard, std::string("1A"));
        QTRY_COMPARE(bus_.calls().size(), 11);
    }
    QCOMPARE(bus_.calls(),
             (QStringList{"CreateSession", "SelectDevices types=1 persist_mode=2 restore_token=", "Start",
                          "Keysym 49 1", "Keysym 49 0", "Keysym 65 1", "Keysym 65 0", "Keysym 44 1", "Keysym 44 0",
                          "Keysym 65293 1", "Keysym 65293 0"}));
    QVERIFY(first.notTyped.isEmpty());

    // The next start hands the token back and gets a fresh one.
    Notices second;
    PortalKeyboard keyboard(connect("second"));
    keyboard.start(first.tokens.first().toStdString(), second.handler());
    QTRY_VERIFY(keyboard.ready());
    QVERIFY(bus_.calls().contains("SelectDevices types=1 persist_mode=2 restore_token=token-1"));
    QCOMPARE(second.tokens, QStringList{"token-2"});
}

// Cards that come faster than the portal answers are typed one after the
// other, each key after the one before: the stand-in, like the real portal,
// would hand over keys sent at once in another order.
void TestPortalKeyboard::manyCardsInOrder()
{
    QVERIFY(bus_.startPortal(dir_.filePath("order.log")));
    Notices notices;
    PortalKeyboard keyboard(connect("order"));
    keyboard.start({}, notices.handler());
    QTRY_VERIFY(keyboard.ready());
    QStringList cards;
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 5; ++round) {
        // As many as may wait at once (the last of the round before may still
        // be finishing), then the next ones once these are through.
        for (std::size_t i = 0; i < PortalKeyQueue::kMaxWaiting; ++i) {
            cards << QString("%1A2B3C%2").arg(round).arg(i, 2, 10, QChar('0'));
            QVERIFY(typeCard(keyboard, keyboard.foregroundWindow(), cards.last().toStdString(), true, true, {})
                    == TypeResult::Typed);
        }
        QVERIFY(runUntilIdle(keyboard, 30000));
    }
    qInfo("%lld cards of 10 keys, %.1f ms per card", qlonglong(cards.size()), double(clock.elapsed()) / cards.size());
    QCOMPARE(keysymCalls(bus_.calls()), expectedKeys(cards));
    QVERIFY(notices.notTyped.isEmpty());
}

// A portal of the first version keeps no permission: nothing is asked of it
// that it does not know, and the user learns that the desktop will ask again.
void TestPortalKeyboard::noPersistenceOffered()
{
    QVERIFY(bus_.startPortal(dir_.filePath("version1.log"), {"version=1"}));
    Notices notices;
    PortalKeyboard keyboard(connect("version1"));
    keyboard.start("token-3", notices.handler());
    QTRY_VERIFY(keyboard.ready());
    QCOMPARE(bus_.calls().mid(0, 2),
             (QStringList{"CreateSession", "SelectDevices types=1 persist_mode=0 restore_token="}));
    QCOMPARE(notices.kinds, QList<Notice>{Notice::AsksEachStart});
    QVERIFY(notices.tokens.isEmpty());
}

// A portal that never answers: typeCard() still returns at once, the cards
// waiting stay bounded and each one not typed is reported, every press sent
// is released, and the keyboard goes at once when the program ends.
void TestPortalKeyboard::stalledOrVanished()
{
    QVERIFY(bus_.startPortal(dir_.filePath("stall.log"), {"stall"}));
    Notices notices;
    QElapsedTimer clock;
    {
        PortalKeyboard keyboard(connect("stall"));
        keyboard.start({}, notices.handler());
        QTRY_VERIFY(keyboard.ready());
        clock.start();
        const std::size_t cards = PortalKeyQueue::kMaxWaiting + 3;
        for (std::size_t i = 0; i < cards; ++i)
            typeCard(keyboard, keyboard.foregroundWindow(), QString("CARD%1").arg(i).toStdString(), false, true, {});
        QVERIFY2(clock.elapsed() < 200, "typeCard waited for the portal");
        // One being typed, kMaxWaiting waiting, the last two told at once.
        QCOMPARE(notices.notTyped, (QStringList{QString("CARD%1").arg(cards - 2), QString("CARD%1").arg(cards - 1)}));
        // The first card gives up after its press and release timed out.
        QTRY_COMPARE_WITH_TIMEOUT(notices.notTyped.size(), 3, 2 * PortalKeyQueue::kCallTimeoutMs + 1000);
        QCOMPARE(notices.notTyped.last(), QString("CARD0"));
        // The next card's press follows at once; ending now still releases it.
        QTRY_COMPARE(keysymCalls(bus_.calls()).size(), 3);
        QCOMPARE(keysymCalls(bus_.calls()).mid(0, 2),
                 (QStringList{"Keysym 67 1 unanswered", "Keysym 67 0 unanswered"}));
        clock.restart();
    }
    QVERIFY2(clock.elapsed() < PortalKeyQueue::kCallTimeoutMs + 500, "the end waited too long");
    QCOMPARE(keysymCalls(bus_.calls()).mid(2), (QStringList{"Keysym 67 1 unanswered", "Keysym 67 0 unanswered"}));

    // A portal that goes away in the middle: every card is told, none hangs.
    QVERIFY(bus_.startPortal(dir_.filePath("vanish.log")));
    Notices gone;
    PortalKeyboard keyboard(connect("vanish"));
    keyboard.start({}, gone.handler());
    QTRY_VERIFY(keyboard.ready());
    QStringList cards;
    for (int i = 0; i < 6; ++i) {
        cards << QString("GONE%1").arg(i);
        typeCard(keyboard, keyboard.foregroundWindow(), cards.last().toStdString(), false, false, {});
    }
    QTRY_VERIFY(!keysymCalls(bus_.calls()).isEmpty());
    bus_.stopPortal();
    const int fullyTyped = keysymCalls(bus_.calls()).size() / 10;
    QTRY_COMPARE_WITH_TIMEOUT(gone.notTyped.size() + fullyTyped, cards.size(), 10000);
    QCOMPARE(gone.notTyped, cards.mid(fullyTyped));
}

void TestPortalKeyboard::refusedOrMissing()
{
    QVERIFY(bus_.startPortal(dir_.filePath("refuse.log"), {"refuse"}));
    Notices refused;
    PortalKeyboard keyboard(connect("refused"));
    keyboard.start("token-7", refused.handler());
    QTRY_COMPARE(refused.kinds, QList<Notice>{Notice::Refused});
    QVERIFY(!keyboard.available());
    QVERIFY(typeCard(keyboard, KeyboardOutput::kFocusedWindow, "12", false, true, {}) != TypeResult::Typed);
    QVERIFY(!bus_.calls().join('\n').contains("Keysym"));

    bus_.stopPortal();
    Notices missing;
    PortalKeyboard none(connect("missing"));
    QTRY_VERIFY(!none.present());  // once the bus has seen the stand-in go
    none.start({}, missing.handler());
    none.start({}, missing.handler());  // told once only
    QCOMPARE(missing.kinds, QList<Notice>{Notice::Unavailable});
    QVERIFY(!none.available());
}

QTEST_GUILESS_MAIN(TestPortalKeyboard)
#include "tst_portalkeyboard.moc"
