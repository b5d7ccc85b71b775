// The pseudo-terminal the simulated reader serves, and the symbolic link
// that can name it.
#pragma once

#include <string>

namespace sim {

class Pty {
public:
    Pty() = default;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty() { close(); }

    // A new pseudo-terminal. The master is non-blocking; the slave is held
    // open too, so that the master keeps working while no program has the
    // port open (otherwise its reads fail with EIO until one does).
    bool open(std::string* error);
    // The port vanishes: programs holding the slave see it hang up.
    void close();

    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // The rate the slave side is set to (what the program chose), 0 when the
    // input and output rates differ or cannot be read.
    int slaveBaud() const;

private:
    int master_ = -1;
    int heldSlave_ = -1;
    std::string slavePath_;
};

// True for the rates termios can set.
bool supportedBaud(int baud);

// Makes `link` a symbolic link to `target`, replacing an existing one
// atomically.
bool pointLink(const std::string& link, const std::string& target, std::string* error);
// Removes `link` if it still points at `target`.
void removeLink(const std::string& link, const std::string& target);

}  // namespace sim
