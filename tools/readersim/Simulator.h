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
std::string checkType(const std::string& value);
std::string checkId(const std::string& value);
std::string checkSerial(const std::string& value);
std::string checkMode(const std::string& value);
std::string checkBaud(const std::string& value, int* baud);
std::string checkMilliseconds(const std::string& value, int* ms);
std::string checkCards(const std::string& value, std::vector<std::string>* cards);

class Simulator {
public:
    explicit Simulator(const Options& options);
    // Serves until a signal, `quit`, or the end of standard input; returns
    // the exit status.
    int run();

private:
    using Clock = CardSchedule::Clock;

    // One run-time command line; returns its answer.
    std::string execute(const std::string& line);
    std::string setSwitch(const std::string& name, const std::string& value);

    bool appear(std::string* error);
    void hangup();
    void readMaster();
    void answer(const Request& request);
    void send(const Bytes& bytes);
    void sendPending();
    void readStdin();
    int baud() const;
    int gapMs() const;
    void say(const std::string& line);
    void log(const std::string& line);

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
