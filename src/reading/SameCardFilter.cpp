#include "reading/SameCardFilter.h"

#include <algorithm>

SameCardFilter::Verdict SameCardFilter::PassSameCardFilter(const QByteArray& cardHex, int filterTime)
{
    if (filterTime <= 0)
        return Verdict::Pass;
    int slot = -1;
    for (int i = 0; i < SameCardCount; ++i) {
        const Entry& entry = SameCardList[std::size_t(i)];
        // The age stays: holding a card on the reader does not prolong it.
        if (entry.age > 0 && entry.text == cardHex)
            return Verdict::Repeat;
        if (entry.age == 0 && slot < 0)
            slot = i;
    }
    if (slot < 0) {
        slot = SameCardCount++;
        if (std::size_t(slot) == SameCardList.size())
            SameCardList.emplace_back();
    }
    SameCardList[std::size_t(slot)] = {cardHex, 1};
    return Verdict::Pass;
}

void SameCardFilter::tick(int filterTime)
{
    if (filterTime <= 0)
        return;
    for (int i = 0; i < SameCardCount; ++i) {
        Entry& entry = SameCardList[std::size_t(i)];
        if (entry.age > 0 && ++entry.age > filterTime)
            entry = {};
    }
    while (SameCardCount > 0 && SameCardList[std::size_t(SameCardCount - 1)].age == 0)
        --SameCardCount;
    // Past the first thousand, a table that emptied out gives its memory back.
    if (SameCardList.size() > std::size_t(kInitialCapacity) && std::size_t(SameCardCount) * 2 < SameCardList.size()) {
        SameCardList.resize(std::max<std::size_t>(std::size_t(SameCardCount), kInitialCapacity));
        SameCardList.shrink_to_fit();
    }
}
