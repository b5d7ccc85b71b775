// Whether Windows lets our keys reach the window of another program.
//
// User interface privilege isolation drops the input that a program sends to
// a window of a program at a higher integrity level (one started "as
// administrator" while we were not), and SendInput still reports success. A
// program with uiAccess, which only signed programs installed under Program
// Files can have, is exempt. Plain data and no Windows headers, so that the
// decision is tested on every platform; WinKeyboard reads the tokens.
#pragma once

struct ProcessIntegrity {
    bool known = false;       // false when the system would not tell
    unsigned long level = 0;  // the token's mandatory label: 0x2000 medium, 0x3000 high, ...
    bool uiAccess = false;
};

// True when keys from `ours` to a window of `target` are dropped. When either
// side cannot be read the keys are sent, as before this check: a card is
// only held back for a reason the system gave.
inline bool keysDroppedBetween(const ProcessIntegrity& ours, const ProcessIntegrity& target)
{
    return ours.known && target.known && !ours.uiAccess && target.level > ours.level;
}
