// The simulated reader: serves a pseudo-terminal, answers requests, and takes
// run-time commands from standard input.
#pragma once

#include "Protocol.h"
#include "Pty.h"

#include <optional>
#include <string>
#include <vector>

namespace sim {

struct Options {
    ReaderState reader;
    int baud = 0;  // 0: the type's own rate
    std::string link;
    std::vector<std::string> cards;
    int periodMs = 1000;
    int gapMs = -1;  // -1: half the period
    bool repeat = false;
    bool log = false;
    bool noStdin = false;
};

// Checks of option and command values; each returns an error text, empty
// when the value is good.
std::string CheckType(const std::string& value);
std::string CheckId(const std::string& value);
std::string CheckSerial(const std::string& value);
std::string CheckMode(const std::string& value);
std::string CheckBaud(const std::string& value, int* baud);
std::string CheckMilliseconds(const std::string& value, int* ms);
std::string CheckCards(const std::string& value, std::vector<std::string>* cards);

class Simulator {
public:
    explicit Simulator(const Options& options);
    // Serves until a signal, `quit`, or the end of standard input; returns
    // the exit status.
    int Run();

private:
    using Clock = CardSchedule::Clock;

    // One run-time command line; returns its answer.
    std::string Execute(const std::string& line);
    std::string SetSwitch(const std::string& name, const std::string& value);

    bool Appear(std::string* error);
    void Hangup();
    void ReadMaster();
    void Answer(const Request& request);
    void Send(const Bytes& bytes);
    void SendPending();
    void ReadStdin();
    int Baud() const;
    int GapMs() const;
    void Say(const std::string& line);
    void Log(const std::string& line);

    Options options_;
    Pty pty_;
    RequestAssembler assembler_;
    CardSchedule cards_;
    ReplyStyle style_;
    bool silent_ = false;
    bool noise_ = false;
    int flood_ = 0;
    Bytes pending_;  // reply bytes the master could not take yet

    bool quit_ = false;
    bool watchStdin_ = false;
    bool stdinEndQuits_ = false;
    std::string stdinLine_;
    std::optional<Clock::time_point> returnAt_;       // after `hangup MS`
    std::optional<Clock::time_point> masterResting_;  // the master reported a hang-up
    Clock::time_point started_;

    long requests_ = 0;
    long replies_ = 0;
    long ignored_ = 0;
};

}  // namespace sim
