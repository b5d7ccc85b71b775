#include "Simulator.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = saved;
}

void CatchSignals()
{
    if (pipe(signalPipe) == 0) {
        for (int fd : signalPipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction action { };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int MillisecondsUntil(CardSchedule::Clock::time_point when, CardSchedule::Clock::time_point now)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
    return ms < 0 ? 0 : static_cast<int>(ms) + 1;
}

constexpr std::size_t kMaxPending = 1 << 20;
constexpr auto kMasterRest = std::chrono::milliseconds(100);

}  // namespace

Simulator::Simulator(const Options& options) : options_(options), assembler_(framingOf(options.reader.type)) { }

int Simulator::baud() const
{
    return options_.baud ? options_.baud : defaultBaud(options_.reader.type);
}

int Simulator::gapMs() const
{
    return options_.gapMs >= 0 ? options_.gapMs : options_.periodMs / 2;
}

void Simulator::say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Simulator::log(const std::string& line)
{
    if (!options_.log)
        return;
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    std::fprintf(stderr, "[%9.3f] %s\n", seconds, line.c_str());
}

bool Simulator::appear(std::string* error)
{
    if (!pty_.open(error))
        return false;
    assembler_.reset(framingOf(options_.reader.type));
    pending_.clear();
    masterResting_.reset();
    returnAt_.reset();
    if (!options_.link.empty() && !pointLink(options_.link, pty_.slavePath(), error)) {
        pty_.close();
        return false;
    }
    say(pty_.slavePath());
    return true;
}

void Simulator::hangup()
{
    if (!options_.link.empty())
        removeLink(options_.link, pty_.slavePath());
    pty_.close();
    log("hung up " + pty_.slavePath());
}

int Simulator::run()
{
    started_ = Clock::now();
    CatchSignals();
    std::string error;
    if (!appear(&error)) {
        std::fprintf(stderr, "tallyport-readersim: %s\n", error.c_str());
        return 1;
    }
    if (!options_.cards.empty())
        cards_.play(options_.cards, options_.periodMs, gapMs(), options_.repeat);

    // Without --no-stdin the end of input ends the simulator when input is
    // a terminal or a pipe; a file (or /dev/null, as for a job started with
    // & from a script) is read to its end and the simulator runs on.
    struct stat input { };
    watchStdin_ = !options_.noStdin && fstat(STDIN_FILENO, &input) == 0;
    stdinEndQuits_ = watchStdin_ && (isatty(STDIN_FILENO) || S_ISFIFO(input.st_mode) || S_ISSOCK(input.st_mode));

    while (!quit_) {
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {signalPipe[0], POLLIN, 0};
        int masterIndex = -1;
        int stdinIndex = -1;
        if (pty_.isOpen() && !masterResting_) {
            masterIndex = static_cast<int>(count);
            fds[count++] = {pty_.master(), static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0};
        }
        if (watchStdin_) {
            stdinIndex = static_cast<int>(count);
            fds[count++] = {STDIN_FILENO, POLLIN, 0};
        }
        int timeout = -1;
        const auto now = Clock::now();
        if (returnAt_)
            timeout = MillisecondsUntil(*returnAt_, now);
        if (masterResting_) {
            const int rest = MillisecondsUntil(*masterResting_, now);
            timeout = timeout < 0 ? rest : std::min(timeout, rest);
        }

        if (poll(fds, count, timeout) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tallyport-readersim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents)
            break;  // SIGINT, SIGTERM or SIGHUP

        const auto later = Clock::now();
        if (masterResting_ && later >= *masterResting_)
            masterResting_.reset();
        if (returnAt_ && later >= *returnAt_ && !appear(&error)) {
            std::fprintf(stderr, "tallyport-readersim: %s\n", error.c_str());
            return 1;
        }
        if (masterIndex >= 0 && pty_.isOpen()) {
            const short events = fds[masterIndex].revents;
            if (events & POLLIN)
                readMaster();
            else if (events & (POLLHUP | POLLERR))
                masterResting_ = Clock::now() + kMasterRest;
            if ((events & POLLOUT) && pty_.isOpen())
                sendPending();
        }
        if (stdinIndex >= 0 && fds[stdinIndex].revents)
            readStdin();
    }

    if (!options_.link.empty() && pty_.isOpen())
        removeLink(options_.link, pty_.slavePath());
    pty_.close();
    return 0;
}

void Simulator::readMaster()
{
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = read(pty_.master(), buffer, sizeof buffer);
        if (got > 0) {
            for (ssize_t i = 0; i < got && pty_.isOpen(); ++i)
                if (std::optional<Request> request = assembler_.feed(buffer[i]))
                    answer(*request);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // No slave open (EIO): wait a moment rather than spin.
            masterResting_ = Clock::now() + kMasterRest;
        }
        return;
    }
}

void Simulator::answer(const Request& request)
{
    ++requests_;
    const Framing framing = framingOf(options_.reader.type);
    const std::string received = "rx " + printable(request.frame, framing);
    const Command command = interpret(options_.reader, request);

    std::string why = command.why;
    if (command.kind != Kind::None) {
        const int portBaud = pty_.slaveBaud();
        if (portBaud != baud())
            why = "port set to " + (portBaud ? std::to_string(portBaud) : std::string("another rate"))
                + " baud, reader at " + std::to_string(baud());
        else if (silent_)
            why = "silent";
    }
    if (!why.empty()) {
        ++ignored_;
        log(received + "  (ignored: " + why + ")");
        return;
    }
    log(received);

    if (command.kind == Kind::ModeSet)
        options_.reader.mode = command.mode;
    if (flood_ > 0) {
        log("tx " + std::to_string(flood_) + " junk bytes");
        send(junkBytes(flood_));
        flood_ = 0;
        return;
    }
    const std::string card = command.kind == Kind::Poll ? cards_.cardAt(Clock::now()) : "";
    Bytes frame = reply(options_.reader, command, card, style_);
    if (noise_)
        frame.insert(frame.begin(), {'A', 'B'});
    ++replies_;
    log("tx " + printable(frame, framing));
    send(frame);
}

void Simulator::send(const Bytes& bytes)
{
    std::size_t sent = 0;
    if (pending_.empty()) {
        const ssize_t written = write(pty_.master(), bytes.data(), bytes.size());
        if (written > 0)
            sent = static_cast<std::size_t>(written);
    }
    if (sent < bytes.size() && pending_.size() < kMaxPending)
        pending_.insert(pending_.end(), bytes.begin() + static_cast<long>(sent), bytes.end());
}

void Simulator::sendPending()
{
    const ssize_t written = write(pty_.master(), pending_.data(), pending_.size());
    if (written > 0)
        pending_.erase(pending_.begin(), pending_.begin() + written);
    else if (written < 0 && errno != EAGAIN && errno != EINTR)
        pending_.clear();
}

void Simulator::readStdin()
{
    char buffer[1024];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        if (!stdinLine_.empty()) {
            const std::string answer = execute(stdinLine_);
            stdinLine_.clear();
            if (!answer.empty())
                say(answer);
        }
        watchStdin_ = false;
        if (stdinEndQuits_)
            quit_ = true;
        return;
    }
    stdinLine_.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    while (!quit_ && (end = stdinLine_.find('\n')) != std::string::npos) {
        std::string line = stdinLine_.substr(0, end);
        stdinLine_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string answer = execute(line);
        if (!answer.empty())
            say(answer);
    }
}

}  // namespace sim
