// Start-up time as the menu starts the program: the Exec line of the desktop
// entry, run under Xvfb with openbox, from the fork until the window is
// viewable. Every run is a new process with a fresh configuration folder (the
// first start a user sees); the page cache is dropped before each run when
// this process may do so.
//   <build>/bench/startup_bench [--runs N] [--desktop-entry FILE]
// The entry's program is looked up in PATH: the installed one by default;
// PATH=<build>:$PATH measures the build's.
#include "support/XSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::vector<std::string> execLine(const std::string& entryPath)
{
    std::ifstream entry(entryPath);
    std::string line;
    while (std::getline(entry, line)) {
        if (line.rfind("Exec=", 0) == 0) {
            std::istringstream words(line.substr(5));
            std::vector<std::string> argv;
            for (std::string w; words >> w;)
                if (w[0] != '%')  // field codes: the menu passes no files
                    argv.push_back(w);
            return argv;
        }
    }
    return {};
}

bool dropCaches()
{
    sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    return drop && (drop << "3\n") && drop.flush();
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 10;
    std::string entry = std::string(TALLYPORT_SOURCE) + "/packaging/com.quorix.Tallyport.desktop";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--runs")
            runs = std::atoi(argv[i + 1]);
        else if (name == "--desktop-entry")
            entry = argv[i + 1];
    }
    const std::vector<std::string> command = execLine(entry);
    if (command.empty()) {
        std::fprintf(stderr, "startup_bench: no Exec line in %s\n", entry.c_str());
        return 1;
    }
    kbdtest::XSession session;
    std::string error;
    if (!session.start(true, error)) {
        std::fprintf(stderr, "startup_bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> times;
    bool cold = true;
    for (int run = 0; run < runs; ++run) {
        const std::string home = session.tempDir() + "/run" + std::to_string(run);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
        session.run({"mkdir", "-p", "-m", "700", home});
        cold = dropCaches() && cold;
        const double start = nowMs();
        auto program = session.spawn(command);
        const kbdtest::Window window = session.findClient("tallyport", 20000);
        if (!window || !session.waitViewable(window, 20000)) {
            std::fprintf(stderr, "startup_bench: no window within 20 s\n");
            return 1;
        }
        times.push_back(nowMs() - start);
        program->stop();
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("command:");
    for (const auto& a : command)
        std::printf(" %s", a.c_str());
    std::printf("\nruns: %d, page cache dropped before each: %s\n", runs, cold ? "yes" : "no");
    std::printf("start -> window viewable, ms:");
    for (double t : times)
        std::printf(" %.0f", t);
    const std::size_t mid = sorted.size() / 2;
    const double median = sorted.size() % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
    std::printf("\nmedian %.0f ms, min %.0f ms, max %.0f ms\n", median, sorted.front(), sorted.back());
    return 0;
}
