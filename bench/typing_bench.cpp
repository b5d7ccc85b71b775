// How long typing a card number takes: a 10-character number and Enter into
// an X client on a private Xvfb (with openbox unless --no-wm), from the call
// until the client has received the last key press (key_recorder stamps each
// key press with CLOCK_MONOTONIC, which is this process's clock too).
// xdotool types the same text in the same session for comparison, timed from
// its start.
//
//   typing_bench [--runs N] [--no-wm]
#include "Percentile.h"
#include "output/TypeCard.h"
#include "output/x11/X11Keyboard.h"
#include "support/XSession.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::string kCard = "1A2B3C4D5E";
const std::string kExpected = kCard + "\r";

struct Figures {
    std::string name;
    std::vector<double> ms;
    int wrong = 0;
    double warmUpMs = -1;  // the unmeasured first run
};

void print(const Figures& f)
{
    if (f.ms.empty()) {
        std::printf("%-34s no run succeeded\n", f.name.c_str());
        return;
    }
    std::printf("%-34s median %7.2f ms  p10 %7.2f  p90 %7.2f  min %7.2f  max %7.2f  (%zu runs", f.name.c_str(),
                percentile(f.ms, 0.5), percentile(f.ms, 0.1), percentile(f.ms, 0.9), percentile(f.ms, 0.0),
                percentile(f.ms, 1.0), f.ms.size());
    if (f.wrong) {
        std::printf(", %d with wrong text", f.wrong);
    }
    std::printf(")\n");
}

// Runs `type` `runs` times after one unmeasured warm-up; `prepare` runs
// before each, untimed.
Figures measure(const std::string& name, int runs, kbdtest::Recorder& recorder, const std::function<void()>& prepare,
                const std::function<bool()>& type)
{
    Figures f{name, {}, 0, -1};
    for (int i = -1; i < runs; ++i) {
        prepare();
        recorder.clear();
        const long long start = kbdtest::monotonicNs();
        const bool sent = type();
        const std::string& got = recorder.received(kExpected.size(), 3000);
        if (i < 0) {
            if (sent && got == kExpected && !recorder.keyTimes().empty()) {
                f.warmUpMs = (recorder.keyTimes().back() - start) / 1e6;
            }
            continue;
        }
        if (!sent || got != kExpected || recorder.keyTimes().empty()) {
            ++f.wrong;
            continue;
        }
        f.ms.push_back((recorder.keyTimes().back() - start) / 1e6);
        usleep(20000);
    }
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 50;
    bool wm = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--no-wm") == 0) {
            wm = false;
        } else {
            std::fprintf(stderr, "usage: typing_bench [--runs N] [--no-wm]\n");
            return 2;
        }
    }
    const std::string missing = kbdtest::XSession::missingPrograms({"Xvfb", "xdotool"});
    if (!missing.empty()) {
        std::fprintf(stderr, "typing_bench: not installed: %s (scripts/install)\n", missing.c_str());
        return 1;
    }
    kbdtest::XSession session;
    std::string error;
    kbdtest::Recorder target;
    kbdtest::Recorder other;
    if (!session.start(wm, error) || !other.start(session, "benchother", error)
        || !target.start(session, "benchtarget", error)) {
        std::fprintf(stderr, "typing_bench: %s\n", error.c_str());
        return 1;
    }
    X11Keyboard keyboard(session.display());
    if (!keyboard.available()) {
        std::fprintf(stderr, "typing_bench: X11Keyboard cannot reach %s\n", session.display().c_str());
        return 1;
    }

    std::printf("Typing \"%s\" + Enter into an X client on Xvfb %s, %d runs each\n", kCard.c_str(),
                wm ? "with openbox" : "without a window manager", runs);
    const auto focusTarget = [&] {
        if (!session.focusWithin(target.window())) {
            session.activate(target.window());
        }
    };
    const auto focusOther = [&] { session.activate(other.window()); };
    const auto ours = [&] { return typeCard(keyboard, target.window(), kCard, false, true, {}) == TypeResult::Typed; };
    const auto xdotool = [&](const char* delay) {
        return [&session, delay] {
            // xdotool types "\r" with the Return key ("\n" would be Linefeed).
            std::vector<std::string> argv{"xdotool", "type"};
            if (delay) {
                argv.insert(argv.end(), {"--delay", delay});
            }
            argv.push_back(kCard + "\r");
            return session.run(argv) == 0;
        };
    };

    const Figures focused = measure("X11Keyboard, target in front", runs, target, focusTarget, ours);
    const Figures switching = measure("X11Keyboard, target activated first", runs, target, focusOther, ours);
    const Figures xdoDefault = measure("xdotool type (default delay)", runs, target, focusTarget, xdotool(nullptr));
    const Figures xdoZero = measure("xdotool type --delay 0", runs, target, focusTarget, xdotool("0"));
    print(focused);
    print(switching);
    print(xdoDefault);
    print(xdoZero);
    if (focused.warmUpMs >= 0) {
        std::printf("first X11Keyboard call of the run (binds the spare keycodes): %.2f ms\n", focused.warmUpMs);
    }
    if (!focused.ms.empty() && !xdoDefault.ms.empty() && !xdoZero.ms.empty()) {
        const double ourMedian = percentile(focused.ms, 0.5);
        std::printf("median ratios (target in front): xdotool default / ours = %.1fx, "
                    "ours / xdotool --delay 0 = %.2fx\n",
                    percentile(xdoDefault.ms, 0.5) / ourMedian, ourMedian / percentile(xdoZero.ms, 0.5));
    }
    return 0;
}
