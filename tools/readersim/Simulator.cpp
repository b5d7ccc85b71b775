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

Simulator::Simulator(const Options& options) : options_(options), assembler_(FramingOf(options.reader.type)) { }

int Simulator::Baud() const
{
    return options_.baud ? options_.baud : DefaultBaud(options_.reader.type);
}

int Simulator::GapMs() const
{
    return options_.gapMs >= 0 ? options_.gapMs : options_.periodMs / 2;
}

void Simulator::Say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Simulator::Log(const std::string& line)
{
    if (!options_.log)
        return;
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    std::fprintf(stderr, "[%9.3f] %s\n", seconds, line.c_str());
}

bool Simulator::Appear(std::string* error)
{
    if (!pty_.Open(error))
        return false;
    assembler_.Reset(FramingOf(options_.reader.type));
    pending_.clear();
    masterResting_.reset();
    returnAt_.reset();
    if (!options_.link.empty() && !PointLink(options_.link, pty_.SlavePath(), error)) {
        pty_.Close();
        return false;
    }
    Say(pty_.SlavePath());
    return true;
}

void Simulator::Hangup()
{
    if (!options_.link.empty())
        RemoveLink(options_.link, pty_.SlavePath());
    pty_.Close();
    Log("hung up " + pty_.SlavePath());
}

int Simulator::Run()
{
    started_ = Clock::now();
    CatchSignals();
    std::string error;
    if (!Appear(&error)) {
        std::fprintf(stderr, "tallyport-readersim: %s\n", error.c_str());
        return 1;
    }
    if (!options_.cards.empty())
        cards_.Play(options_.cards, options_.periodMs, GapMs(), options_.repeat);

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
        if (pty_.IsOpen() && !masterResting_) {
            masterIndex = static_cast<int>(count);
            fds[count++] = {pty_.Master(), static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0};
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
        if (returnAt_ && later >= *returnAt_ && !Appear(&error)) {
            std::fprintf(stderr, "tallyport-readersim: %s\n", error.c_str());
            return 1;
        }
        if (masterIndex >= 0 && pty_.IsOpen()) {
            const short events = fds[masterIndex].revents;
            if (events & POLLIN)
                ReadMaster();
            else if (events & (POLLHUP | POLLERR))
                masterResting_ = Clock::now() + kMasterRest;
            if ((events & POLLOUT) && pty_.IsOpen())
                SendPending();
        }
        if (stdinIndex >= 0 && fds[stdinIndex].revents)
            ReadStdin();
    }

    if (!options_.link.empty() && pty_.IsOpen())
        RemoveLink(options_.link, pty_.SlavePath());
    pty_.Close();
    return 0;
}

void Simulator::ReadMaster()
{
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = read(pty_.Master(), buffer, sizeof buffer);
        if (got > 0) {
            for (ssize_t i = 0; i < got && pty_.IsOpen(); ++i)
                if (std::optional<Request> request = assembler_.Feed(buffer[i]))
                    Answer(*request);
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

void Simulator::Answer(const Request& request)
{
    ++requests_;
    const Framing framing = FramingOf(options_.reader.type);
    const std::string received = "rx " + Printable(request.frame, framing);
    const Command command = Interpret(options_.reader, request);

    std::string why = command.why;
    if (command.kind != Kind::None) {
        const int baud = pty_.SlaveBaud();
        if (baud != Baud())
            why = "port set to " + (baud ? std::to_string(baud) : std::string("another rate")) + " baud, reader at "
                + std::to_string(Baud());
        else if (silent_)
            why = "silent";
    }
    if (!why.empty()) {
        ++ignored_;
        Log(received + "  (ignored: " + why + ")");
        return;
    }
    Log(received);

    if (command.kind == Kind::ModeSet)
        options_.reader.mode = command.mode;
    if (flood_ > 0) {
        Log("tx " + std::to_string(flood_) + " junk bytes");
        Send(JunkBytes(flood_));
        flood_ = 0;
        return;
    }
    const std::string card = command.kind == Kind::Poll ? cards_.CardAt(Clock::now()) : "";
    Bytes reply = Reply(options_.reader, command, card, style_);
    if (noise_)
        reply.insert(reply.begin(), {'A', 'B'});
    ++replies_;
    Log("tx " + Printable(reply, framing));
    Send(reply);
}

void Simulator::Send(const Bytes& bytes)
{
    std::size_t sent = 0;
    if (pending_.empty()) {
        const ssize_t written = write(pty_.Master(), bytes.data(), bytes.size());
        if (written > 0)
            sent = static_cast<std::size_t>(written);
    }
    if (sent < bytes.size() && pending_.size() < kMaxPending)
        pending_.insert(pending_.end(), bytes.begin() + static_cast<long>(sent), bytes.end());
}

void Simulator::SendPending()
{
    const ssize_t written = write(pty_.Master(), pending_.data(), pending_.size());
    if (written > 0)
        pending_.erase(pending_.begin(), pending_.begin() + written);
    else if (written < 0 && errno != EAGAIN && errno != EINTR)
        pending_.clear();
}

void Simulator::ReadStdin()
{
    char buffer[1024];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        if (!stdinLine_.empty()) {
            const std::string answer = Execute(stdinLine_);
            stdinLine_.clear();
            if (!answer.empty())
                Say(answer);
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
        const std::string answer = Execute(line);
        if (!answer.empty())
            Say(answer);
    }
}

}  // namespace sim
