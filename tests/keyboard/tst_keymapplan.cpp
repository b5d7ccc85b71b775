// Choosing keycodes for X11 keystrokes, on made-up keymaps and without an X
// server: characters go through the layout's keys (in its current group),
// what it lacks through spare keycodes bound once and ahead of need, and a
// text that cannot be typed whole is not typed at all.
#include "output/x11/KeymapPlan.h"

#include <QtTest>

using namespace x11plan;

namespace {

constexpr KeySym kShiftL = 0xffe1;
constexpr KeySym kReturn = 0xff0d;

// Keycodes 8..maxCode, two levels: '2'/'@' on 9, '1'/'!' on 10, 'a'/'A' on 11, ','/'?' on
// 12, Return on 13, Shift on 14; the rest spare.
Keymap layout(int maxCode)
{
    Keymap k{8, maxCode, 2, std::vector<KeySym>((maxCode - 7) * 2, 0), {}, {}};
    auto set = [&](int code, KeySym plain, KeySym shifted) {
        k.syms[(code - 8) * 2] = plain;
        k.syms[(code - 8) * 2 + 1] = shifted;
    };
    set(9, '2', '@');
    set(10, '1', '!');
    set(11, 'a', 'A');
    set(12, ',', '?');
    set(13, kReturn, kReturn);
    set(14, kShiftL, 0);
    return k;
}

// What the server holds once the plan's bindings are written.
void write(Keymap& k, const Plan& plan)
{
    for (const auto& [code, sym] : plan.bind) {
        k.syms[(code - 8) * 2] = sym;
        k.syms[(code - 8) * 2 + 1] = sym;
    }
}

std::set<int> shiftOnly()
{
    return {14};
}

}  // namespace

class TestKeymapPlan : public QObject {
    Q_OBJECT

private slots:
    void layoutKeysFirst();
    void currentGroupDecides();
    void spareKeysRunOut();
    void bindingLostToNewLayout();
};

void TestKeymapPlan::layoutKeysFirst()
{
    Keymap k = layout(60);
    std::vector<Binding> bindings;
    const auto now = Clock::now();
    const Plan first = planStrokes(k, shiftOnly, bindings, {'1', 'A', ',', kReturn, '7'}, now);
    QVERIFY(first.ok);
    QCOMPARE(first.strokes.size(), std::size_t(5));
    const int layoutCodes[] = {10, 11, 12, 13};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(int(first.strokes[i].code), layoutCodes[i]);
        QVERIFY(first.strokes[i].layoutKey);
        QCOMPARE(first.strokes[i].shift, i == 1);  // 'A' is Shift and 'a'
    }
    // '7' has no key: a spare one, and with it the 17 other card characters
    // the layout lacks, in one change of the keymap.
    QVERIFY(first.strokes[4].code > 14 && !first.strokes[4].layoutKey);
    QVERIFY(first.strokesNeedBind);
    QCOMPARE(first.bind.size(), std::size_t(18));
    write(k, first);

    // The next card changes nothing in the keymap.
    const Plan second = planStrokes(k, shiftOnly, bindings, {'F', '7', '2', 'F'}, now);
    QVERIFY(second.ok);
    QVERIFY(second.bind.empty() && !second.strokesNeedBind);
    QCOMPARE(second.strokes[1].code, first.strokes[4].code);
    QCOMPARE(int(second.strokes[2].code), 9);
    QCOMPARE(second.strokes[0].code, second.strokes[3].code);

    // Nothing asked for: all is bound already.
    QVERIFY(planStrokes(k, shiftOnly, bindings, {}, now).bind.empty());
}

// The keys type what the groups give, not what the core map's first group
// says. "us,ru" with ru active: 'A' through the us group; ru alone: 'A' needs
// a key of its own.
void TestKeymapPlan::currentGroupDecides()
{
    Keymap k = layout(30);
    const int count = k.maxCode - k.minCode + 1;
    k.groups = 2;
    k.currentGroup = 1;
    k.plain.assign(2 * count, 0);
    k.shifted = k.plain;
    auto set = [&](int group, int code, KeySym plain, KeySym shifted) {
        k.plain[group * count + code - 8] = plain;
        k.shifted[group * count + code - 8] = shifted;
    };
    for (int group : {0, 1}) {
        set(group, 13, kReturn, kReturn);
        set(group, 14, kShiftL, kShiftL);
    }
    set(0, 9, '2', '@');
    set(0, 11, 'a', 'A');
    set(1, 9, '2', '"');
    set(1, 11, 0x6c6, 0x6e6);  // Cyrillic ef
    set(1, 12, '.', ',');
    std::vector<Binding> bindings;
    Plan plan = planStrokes(k, shiftOnly, bindings, {'A', ',', '2'}, Clock::now());
    QVERIFY(plan.ok);
    QCOMPARE(int(plan.strokes[0].code), 11);
    QVERIFY(plan.strokes[0].shift);
    QCOMPARE(plan.strokes[0].group, 0);
    QCOMPARE(int(plan.strokes[1].code), 12);
    QVERIFY(plan.strokes[1].shift);
    QCOMPARE(plan.strokes[2].group, -1);  // '2' is in the current group too

    k.groups = 1;
    k.currentGroup = 0;
    std::copy(k.plain.begin() + count, k.plain.end(), k.plain.begin());
    std::copy(k.shifted.begin() + count, k.shifted.end(), k.shifted.begin());
    plan = planStrokes(k, shiftOnly, bindings, {'A'}, Clock::now());
    QVERIFY(plan.ok);
    QVERIFY(plan.strokes[0].code > 14 && !plan.strokes[0].layoutKey);
    QVERIFY(plan.strokesNeedBind);
}

void TestKeymapPlan::spareKeysRunOut()
{
    Keymap k = layout(15);  // one spare keycode: 15
    std::vector<Binding> bindings;
    const auto start = Clock::now();

    // The spare key goes to the character the layout lacks; 'A' is typed
    // with Shift on the layout's key.
    Plan plan = planStrokes(k, shiftOnly, bindings, {0xe9, 'A'}, start);
    QVERIFY(plan.ok);
    QCOMPARE(int(plan.strokes[0].code), 15);
    QCOMPARE(int(plan.strokes[1].code), 11);
    QVERIFY(plan.strokes[1].shift);
    QCOMPARE(int(plan.shiftCode), 14);
    write(k, plan);

    // Two characters without a key and one spare: nothing rather than holes,
    // and a binding just used is not taken away.
    QVERIFY(!planStrokes(k, shiftOnly, bindings, {0xfc}, start + std::chrono::seconds(1)).ok);

    // Long unused, the binding goes to the new character.
    plan = planStrokes(k, shiftOnly, bindings, {0xfc}, start + kRebindAfter + std::chrono::seconds(1));
    QVERIFY(plan.ok);
    QCOMPARE(int(plan.strokes[0].code), 15);
    QCOMPARE(plan.bind.size(), std::size_t(1));
}

void TestKeymapPlan::bindingLostToNewLayout()
{
    Keymap k = layout(40);
    std::vector<Binding> bindings;
    const auto now = Clock::now();
    Plan plan = planStrokes(k, shiftOnly, bindings, {'7'}, now);
    QVERIFY(plan.ok);
    write(k, plan);
    const int code = plan.strokes[0].code;

    // A new layout puts its own key there: the binding is dropped, never
    // typed through, and '7' is bound afresh elsewhere.
    k.syms[(code - 8) * 2] = 'q';
    k.syms[(code - 8) * 2 + 1] = 'Q';
    plan = planStrokes(k, shiftOnly, bindings, {'7'}, now);
    QVERIFY(plan.ok);
    QVERIFY(int(plan.strokes[0].code) != code);
    QVERIFY(std::any_of(plan.bind.begin(), plan.bind.end(), [](const auto& b) { return b.second == KeySym('7'); }));
}

QTEST_GUILESS_MAIN(TestKeymapPlan)
#include "tst_keymapplan.moc"
