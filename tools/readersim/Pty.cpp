#include "Pty.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

struct Rate {
    int baud;
    speed_t speed;
};

const Rate kRates[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

int BaudOf(speed_t speed)
{
    for (const Rate& rate : kRates)
        if (rate.speed == speed)
            return rate.baud;
    return 0;
}

std::string Failed(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool Pty::open(std::string* error)
{
    close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        *error = Failed("posix_openpt");
        return false;
    }
    char path[PATH_MAX];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, path, sizeof path) != 0) {
        *error = Failed("pseudo-terminal setup");
        ::close(master);
        return false;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    // Held only to keep the pair alive; never read, so every byte the program
    // writes reaches the master. The program's TIOCEXCL still works since
    // this open came first.
    const int slave = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        *error = Failed(path);
        ::close(master);
        return false;
    }
    master_ = master;
    heldSlave_ = slave;
    slavePath_ = path;
    return true;
}

void Pty::close()
{
    if (heldSlave_ >= 0)
        ::close(heldSlave_);
    if (master_ >= 0)
        ::close(master_);
    heldSlave_ = master_ = -1;
}

int Pty::slaveBaud() const
{
    // Terminal attributes asked of the master are the slave's.
    termios attributes{};
    if (master_ < 0 || tcgetattr(master_, &attributes) != 0)
        return 0;
    const speed_t out = cfgetospeed(&attributes);
    const speed_t in = cfgetispeed(&attributes);
    if (in != out && in != B0)
        return 0;
    return BaudOf(out);
}

bool supportedBaud(int baud)
{
    for (const Rate& rate : kRates)
        if (rate.baud == baud)
            return true;
    return false;
}

bool pointLink(const std::string& link, const std::string& target, std::string* error)
{
    const std::string temporary = link + ".new" + std::to_string(getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        *error = Failed(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        *error = Failed(link.c_str());
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string& link, const std::string& target)
{
    char current[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), current, sizeof current - 1);
    if (length < 0)
        return;
    current[length] = '\0';
    if (target == current)
        ::unlink(link.c_str());
}

}  // namespace sim
