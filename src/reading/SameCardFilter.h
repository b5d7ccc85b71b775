// Suppresses repeated reads of the same card for a number of seconds: a
// fixed table of recently output cards, aged once a second.
#pragma once

#include <QByteArray>

class SameCardFilter {
public:
    static constexpr int Capacity = 1000;

    enum class Verdict {
        Pass,    // output the read
        Repeat,  // the same card was output less than the filter time ago
        Full,    // every entry is live: the read cannot be tracked
    };

    // `filterTime` is in seconds; 0 or less lets everything pass untouched.
    Verdict PassSameCardFilter(const QByteArray& cardHex, int filterTime);

    // One tick of the one-second ageing timer.
    void tick(int filterTime);

    int SameCardCount = 0;

    struct Entry {
        QByteArray text;
        int age = 0;  // 0 free, 1 or more live
    };
    const Entry& entry(int index) const { return SameCardList[index]; }

private:
    Entry SameCardList[Capacity];
};
