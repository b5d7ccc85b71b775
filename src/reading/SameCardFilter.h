// Suppresses repeated reads of the same card for a number of seconds: a
// table of recently output cards, aged once a second.
#pragma once

#include <QByteArray>
#include <vector>

class SameCardFilter {
public:
    // The table starts with room for this many cards and grows past it when
    // more different cards fall within the filter time (a day's badge-in rule
    // sees thousands): a new card is always output. Entries that expire at the
    // end of the table give their memory back, so the table holds no more
    // than the cards read within the filter time.
    static constexpr int kInitialCapacity = 1000;

    enum class Verdict {
        Pass,    // output the read
        Repeat,  // the same card was output less than the filter time ago
    };

    SameCardFilter() { SameCardList.reserve(kInitialCapacity); }

    // `filterTime` is in seconds; 0 or less lets everything pass untouched.
    Verdict PassSameCardFilter(const QByteArray& cardHex, int filterTime);

    // One tick of the one-second ageing timer.
    void tick(int filterTime);

    // Entries below this are looked at; freed ones among them are reused.
    int SameCardCount = 0;

    struct Entry {
        QByteArray text;
        int age = 0;  // 0 free, 1 or more live
    };
    const Entry& entry(int index) const { return SameCardList[std::size_t(index)]; }

private:
    std::vector<Entry> SameCardList;
};
