// How long typing a card number takes on Wayland: "1A2B3C4D5E" and Enter
// into foot on a private headless sway, from the call until the terminal
// has passed the last byte on (the file `cat` writes holds all eleven), our
// virtual keyboard beside wtype (timed from its launch) in the same run.
// Both are measured the same way, so the terminal's own delay is in both.
//
//   wayland_typing_bench [--runs N]
#include "Percentile.h"
#include "output/TypeCard.h"
#include "output/wayland/WaylandKeyboard.h"
#include "support/SwaySession.h"

#include <QCoreApplication>
#include <QProcess>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

const std::string kCard = "1A2B3C4D5E";
const QByteArray kExpected = "1A2B3C4D5E\r";

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Times `type` `runs` times after one unmeasured warm-up: until the file has
// grown by the card's bytes, watched every 0.1 ms.
void measure(const char* name, int runs, waytest::FootTerminal& foot, const std::function<bool()>& type)
{
    std::vector<double> ms;
    int wrong = 0;
    for (int i = -1; i < runs; ++i) {
        foot.clear();
        struct stat st { };
        const off_t before = stat(foot.file().toLocal8Bit().constData(), &st) == 0 ? st.st_size : 0;
        const double start = nowMs();
        bool ok = type();
        while (ok) {
            if (stat(foot.file().toLocal8Bit().constData(), &st) == 0 && st.st_size >= before + kExpected.size())
                break;
            if (nowMs() - start > 3000)
                ok = false;
            usleep(100);
        }
        const double elapsed = nowMs() - start;
        if (i < 0)
            continue;
        if (!ok || foot.received() != kExpected) {
            ++wrong;
            continue;
        }
        ms.push_back(elapsed);
        usleep(20000);
    }
    if (ms.empty()) {
        std::printf("%-30s no run succeeded\n", name);
        return;
    }
    std::printf("%-30s median %7.2f ms  p10 %7.2f  p90 %7.2f  min %7.2f  max %7.2f  (%zu runs, %d wrong)\n", name,
                percentile(ms, 0.5), percentile(ms, 0.1), percentile(ms, 0.9), percentile(ms, 0.0), percentile(ms, 1.0),
                ms.size(), wrong);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 50;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
    }
    waytest::SwaySession sway;
    waytest::FootTerminal foot;
    QString error;
    if (!sway.start("us", false, &error) || !foot.start(sway, "benchsink", &error)) {
        std::fprintf(stderr, "wayland_typing_bench: %s\n", qPrintable(error));
        return 1;
    }
    WaylandKeyboard keyboard(sway.display().toStdString());
    if (!keyboard.available()) {
        std::fprintf(stderr, "wayland_typing_bench: no virtual keyboard on sway\n");
        return 1;
    }
    std::printf("typing \"%s\" + Enter into foot on headless sway, %d runs each\n", kCard.c_str(), runs);
    measure("Tallyport virtual keyboard", runs, foot, [&] {
        return typeCard(keyboard, KeyboardOutput::kFocusedWindow, kCard, false, true, {}) == TypeResult::Typed;
    });
    // wtype as this process's user, like our keyboard: no runuser on the way.
    QProcessEnvironment env = sway.environment();
    measure("wtype (from its launch)", runs, foot, [&] {
        QProcess wtype;
        wtype.setProcessEnvironment(env);
        wtype.start("wtype", {QString::fromStdString(kCard), "-k", "Return"});
        return wtype.waitForFinished(3000) && wtype.exitCode() == 0;
    });
    return 0;
}
