// PortalKeyboard against the stand-in portal on a private session bus: the
// session it asks for, the restore token handed on to the next start, the
// keysyms of a card in order, and what a refusal or a missing portal leaves.
#include "output/portal/PortalKeyboard.h"
#include "portal/PrivateBus.h"

#include <QDBusConnection>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Notices {
    QList<KeyboardOutput::Notice> kinds;
    QStringList tokens;
    KeyboardOutput::NoticeHandler handler()
    {
        return [this](KeyboardOutput::Notice kind, const std::string& token) {
            kinds << kind;
            if (kind == KeyboardOutput::Notice::RestoreToken)
                tokens << QString::fromStdString(token);
        };
    }
};

}  // namespace

class TestPortalKeyboard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sessionTokenAndKeys();
    void refusedOrMissing();

private:
    QDBusConnection connect(const QString& name)
    {
        return QDBusConnection::connectToBus(bus_.address(), name);
    }

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
        QVERIFY(!keyboard.typeText(KeyboardOutput::kFocusedWindow, "1", false, false, {}));
        keyboard.start({}, first.handler());
        QTRY_VERIFY(keyboard.ready());
        QVERIFY(keyboard.followsFocus());
        QCOMPARE(first.tokens, QStringList{"token-1"});

        std::string clipboard;
        QVERIFY(keyboard.typeText(keyboard.foregroundWindow(), "1A", true, true,
                                  [&](const std::string& text) { clipboard = text; }));
        QCOMPARE(clipboard, std::string("1A"));
    }
    QCOMPARE(bus_.calls(), (QStringList{"CreateSession", "SelectDevices types=1 persist_mode=2 restore_token=",
                                        "Start", "Keysym 49 1", "Keysym 49 0", "Keysym 65 1", "Keysym 65 0",
                                        "Keysym 44 1", "Keysym 44 0", "Keysym 65293 1", "Keysym 65293 0"}));

    // The next start hands the token back and gets a fresh one.
    Notices second;
    PortalKeyboard keyboard(connect("second"));
    keyboard.start(first.tokens.first().toStdString(), second.handler());
    QTRY_VERIFY(keyboard.ready());
    QVERIFY(bus_.calls().contains("SelectDevices types=1 persist_mode=2 restore_token=token-1"));
    QCOMPARE(second.tokens, QStringList{"token-2"});
}

void TestPortalKeyboard::refusedOrMissing()
{
    QVERIFY(bus_.startPortal(dir_.filePath("refuse.log"), "refuse"));
    Notices refused;
    PortalKeyboard keyboard(connect("refused"));
    keyboard.start("token-7", refused.handler());
    QTRY_COMPARE(refused.kinds, QList<KeyboardOutput::Notice>{KeyboardOutput::Notice::Refused});
    QVERIFY(!keyboard.available());
    QVERIFY(!keyboard.typeText(KeyboardOutput::kFocusedWindow, "12", false, true, {}));
    QVERIFY(!bus_.calls().join('\n').contains("Keysym"));

    bus_.stopPortal();
    Notices missing;
    PortalKeyboard none(connect("missing"));
    QVERIFY(!none.present());
    none.start({}, missing.handler());
    none.start({}, missing.handler());  // told once only
    QCOMPARE(missing.kinds, QList<KeyboardOutput::Notice>{KeyboardOutput::Notice::Unavailable});
    QVERIFY(!none.available());
}

QTEST_GUILESS_MAIN(TestPortalKeyboard)
#include "tst_portalkeyboard.moc"
