// What a form in a real application reported about the cards typed into it:
// one JSON line per Enter, {"value": text, "keys": [{"key": k, "keyCode": n}]},
// written by card_form.py (a web page) or gtk_entry.py (a GTK entry).
#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QtTest>

namespace apptest {

// Cards with every one of A-F, each unlike the one before; no program run
// presents more than twelve, so none is held back as a repeat.
inline const QStringList kCards{"1A2B3C4D", "00C0FFEE", "DEADBEEF", "F00DFACE", "0BADCAFE", "12345678",
                                "ABCDEF09", "FACADE21", "C0DEBABE", "BADC0DE5", "E1F2A3B4", "9ACEDBF0"};

// The reports written to `path` so far, the ready line left out.
inline QList<QJsonObject> reports(const QString& path)
{
    QList<QJsonObject> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.contains("value"))
            out << record;
    }
    return out;
}

// Waits until there are `count` reports.
inline QList<QJsonObject> waitReports(const QString& path, int count, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    QList<QJsonObject> out = reports(path);
    while (out.size() < count && clock.elapsed() < timeoutMs) {
        QTest::qWait(20);
        out = reports(path);
    }
    return out;
}

// Cards and keydowns, and how many of them came out right.
struct Tally {
    int cards = 0;
    int exact = 0;
    int keydowns = 0;
    int matching = 0;
    QStringList faults;

    // `report` for `card` typed with a comma and Enter: the value must be the
    // card and its comma, and every keydown but those of modifier keys must
    // name the character typed (and, where there is a keyCode, the key a
    // keyboard types it with: 48-57 for digits, 65-70 for A-F).
    void add(const QJsonObject& report, const QString& card)
    {
        ++cards;
        const QString value = report.value("value").toString();
        if (value == card + ",")
            ++exact;
        else
            faults << QString("card %1 arrived as %2").arg(card, value);
        QStringList typed;
        for (const QChar c : card + ",")
            typed << QString(c);
        typed << "Enter";
        static const QStringList modifiers{"Shift", "CapsLock", "Control", "Alt", "AltGraph", "Meta"};
        int next = 0;
        for (const auto& entry : report.value("keys").toArray()) {
            const QJsonObject key = entry.toObject();
            const QString name = key.value("key").toString();
            if (modifiers.contains(name))
                continue;
            ++keydowns;
            const QString want = next < typed.size() ? typed[next] : QString();
            ++next;
            bool right = name == want;
            if (right && key.contains("keyCode") && want.size() == 1 && want[0].isLetterOrNumber())
                right = key.value("keyCode").toInt() == want.toUpper()[0].unicode();
            if (right)
                ++matching;
            else
                faults << QString("card %1: keydown %2 for %3")
                              .arg(card, QString::fromUtf8(QJsonDocument(key).toJson(QJsonDocument::Compact)), want);
        }
        keydowns += std::max(0, int(typed.size()) - next);  // keydowns that never came
        if (next < typed.size())
            faults << QString("card %1: %2 keydowns missing").arg(card).arg(typed.size() - next);
    }

    QString summary() const
    {
        return QString("cards exact %1/%2, keydowns matching %3/%4").arg(exact).arg(cards).arg(matching).arg(keydowns);
    }
};

}  // namespace apptest
