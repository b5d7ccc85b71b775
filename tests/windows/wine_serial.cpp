// The Windows serial port and the link's receive loop on Wine's serial
// ports: `wine_serial.exe COMn COMm` with the simulated reader (type A, ID 01,
// no card) behind COMn and nothing behind COMm. Prints the round trip of a
// transaction, from the request's write to the reply's end.

#include "WineCheck.h"
#include "link/Frames.h"
#include "link/ReceiveLoop.h"
#include "link/windows/WinPorts.h"
#include "link/windows/WinSerialPort.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One TAB-framed transaction, as the link runs it.
ReceiveResult transact(WinSerialPort& port, const std::string& command, Frames::ReplyState& reply, int timeoutMs = 150)
{
    port.purge();
    const std::vector<std::uint8_t> frame = Frames::AsciiFrame(Frames::TAB, command);
    CHECK(port.write(frame.data(), frame.size(), timeoutMs));
    return receiveReply(port, timeoutMs, reply,
                        [&](std::uint8_t byte) { return Frames::feedAscii(reply, Frames::LF, byte); });
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: wine_serial COM-with-reader COM-without\n");
        return 2;
    }
    const std::string readerPort = argv[1], absentPort = argv[2];

    // What the reader follower asks before it knocks on a port. (Wine does
    // not name a COM port mapped after its start in the device namespace,
    // so the port with the reader cannot be shown present this way here.)
    CHECK(!windowsPortPresent(std::wstring(absentPort.begin(), absentPort.end())));

    WinSerialPort absent;
    CHECK(!absent.open(absentPort, "19200,e,8,1"));
    CHECK(absent.openError() == ERROR_FILE_NOT_FOUND);
    CHECK(!absent.isOpen());

    WinSerialPort port;
    CHECK(port.open(readerPort, "19200,e,8,1"));
    // The open asks for the port alone (share mode 0); a Windows serial
    // driver then refuses a second opener with ERROR_ACCESS_DENIED. Wine
    // does not enforce that on the device behind a COM name, so it can only
    // be reported here, not checked.
    {
        WinSerialPort intruder;
        if (intruder.open(readerPort, "19200,e,8,1"))
            std::fprintf(stderr, "wine_serial: Wine let a second opener have the held port\n");
    }

    // A mode string the system rejects still leaves the port open and working.
    CHECK(port.open(readerPort, "abc"));
    // So does one far longer than any: a registry value of 32,768 characters
    // once made the system's parser fault at the second open.
    for (const std::size_t length : {std::size_t(32768), std::size_t(70000)}) {
        for (int i = 0; i < 3; ++i)
            CHECK(port.open(readerPort, "19200,e,8,1" + std::string(length, ' ')));
    }
    CHECK(port.open(readerPort, "19200,e,8,1"));

    Frames::ReplyState reply;
    ReceiveResult end = transact(port, "A01B", reply);
    CHECK(end.result && !end.portFailed);
    CHECK(reply.ReplyLength == 16);
    CHECK(reply.ReplyText.rfind("\nA01B", 0) == 0);

    // A request the reader ignores ends by the time-out, not much later.
    const auto silentStart = Clock::now();
    end = transact(port, "ZZZ", reply);
    const double silentMs = msSince(silentStart);
    CHECK(!end.result && !end.portFailed);
    CHECK(silentMs >= 149 && silentMs < 400);

    // The round trip, and that no reply is lost or merged over many.
    std::vector<double> trips;
    for (int i = 0; i < 200; ++i) {
        const auto start = Clock::now();
        end = transact(port, "A01B", reply);
        trips.push_back(msSince(start));
        CHECK(end.result && reply.ReplyLength == 16);
    }
    std::sort(trips.begin(), trips.end());
    std::fprintf(stderr,
                 "wine_serial: transaction round trip over %zu: median %.2f ms, p90 %.2f ms, max %.2f ms; "
                 "silent reader ends after %.1f ms\n",
                 trips.size(), trips[trips.size() / 2], trips[trips.size() * 9 / 10], trips.back(), silentMs);

    // Closed and opened again, the port still carries transactions.
    port.close();
    CHECK(!port.isOpen());
    CHECK(port.open(readerPort, "19200,e,8,1"));
    CHECK(transact(port, "A01B", reply).result);
    return wineCheckResult("wine_serial");
}
