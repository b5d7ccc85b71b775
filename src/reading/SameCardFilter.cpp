#include "reading/SameCardFilter.h"

SameCardFilter::Verdict SameCardFilter::PassSameCardFilter(const QByteArray& cardHex, int filterTime)
{
    if (filterTime <= 0)
        return Verdict::Pass;
    for (int i = 0; i < SameCardCount; ++i) {
        // The age stays: holding a card on the reader does not prolong it.
        if (SameCardList[i].age > 0 && SameCardList[i].text == cardHex)
            return Verdict::Repeat;
    }
    int slot = -1;
    for (int i = 0; i < SameCardCount && slot < 0; ++i) {
        if (SameCardList[i].age == 0)
            slot = i;
    }
    if (slot < 0) {
        if (SameCardCount >= Capacity)
            return Verdict::Full;
        slot = SameCardCount++;
    }
    SameCardList[slot] = {cardHex, 1};
    return Verdict::Pass;
}

void SameCardFilter::tick(int filterTime)
{
    if (filterTime <= 0)
        return;
    for (int i = 0; i < SameCardCount; ++i) {
        Entry& entry = SameCardList[i];
        if (entry.age > 0 && ++entry.age > filterTime)
            entry.age = 0;
    }
}
