// Choosing keycodes for X11 keystrokes, on made-up keymaps and without an X
// server: characters go to spare keycodes bound once, the layout's keys are
// the fallback, and a text that cannot be typed whole is not typed at all.
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
    Keymap k{8, maxCode, 2, std::vector<KeySym>((maxCode - 7) * 2, 0)};
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
    void cardCharactersBoundOnce();
    void spareKeysRunOut();
    void bindingLostToNewLayout();
};

void TestKeymapPlan::cardCharactersBoundOnce()
{
    Keymap k = layout(60);
    std::vector<Binding> bindings;
    const auto now = Clock::now();
    const Plan first = planStrokes(k, shiftOnly, bindings, {'1', 'A', ',', kReturn}, now);
    QVERIFY(first.ok);
    // All seventeen characters of card numbers at once, on spare keycodes.
    QCOMPARE(first.bind.size(), std::size_t(17));
    QCOMPARE(first.strokes.size(), std::size_t(4));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(first.strokes[i].code > 14);
        QVERIFY(!first.strokes[i].shift && !first.strokes[i].layoutKey);
    }
    QCOMPARE(int(first.strokes[3].code), 13);  // Enter through the layout's Return
    QVERIFY(first.strokes[3].layoutKey);
    write(k, first);

    // The next card changes nothing in the keymap and reuses the bindings.
    const Plan second = planStrokes(k, shiftOnly, bindings, {'F', '1', 'F'}, now);
    QVERIFY(second.ok);
    QVERIFY(second.bind.empty());
    QCOMPARE(second.strokes.size(), std::size_t(3));
    QCOMPARE(second.strokes[0].code, second.strokes[2].code);
    QCOMPARE(second.strokes[1].code, first.strokes[0].code);
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
    QVERIFY(std::any_of(plan.bind.begin(), plan.bind.end(),
                        [](const auto& b) { return b.second == KeySym('7'); }));
}

QTEST_GUILESS_MAIN(TestKeymapPlan)
#include "tst_keymapplan.moc"
