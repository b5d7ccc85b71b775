// The receive loop that every transaction ends with, on either port class
// (link/QtLinkPort.h, link/windows/WinSerialPort.h): it gathers the reply
// until the assembler `feed` ends the transaction or `timeoutMs` ran out, and
// sleeps in the port's own wait for bytes, so a reply is seen as soon as its
// last byte is in. Qt-free: the Windows port's test runs it under Wine.
#pragma once

#include "link/Frames.h"

#include <chrono>
#include <cstddef>

struct ReceiveResult {
    bool result = false;
    bool portFailed = false;  // the port vanished or hung up: nothing more can come
};

template <typename Port, typename Feed>
ReceiveResult receiveReply(Port& port, int timeoutMs, Frames::ReplyState& reply, Feed feed)
{
    using namespace std::chrono;
    reply.ReplyLength = 0;
    const auto start = steady_clock::now();
    unsigned char chunk[Frames::kBufferSize];
    for (;;) {
        const std::size_t waiting = port.waiting();
        if (waiting >= static_cast<std::size_t>(Frames::kBufferSize)) {
            // A flooding reader: drop everything rather than parse it.
            reply.ReplyLength = 0;
            port.purge();
            return {};
        }
        // A failed read gathers nothing; the time-out still ends the loop.
        const long got = waiting > 0 ? port.read(chunk, waiting) : 0;
        for (long i = 0; i < got; ++i) {
            if (const auto done = feed(chunk[i]))
                return {*done, false};
        }
        const long long left = timeoutMs - duration_cast<milliseconds>(steady_clock::now() - start).count();
        if (left < 0)
            return {};
        if (port.held() > 0)
            continue;
        if (port.waitForBytes(static_cast<int>(left) + 1) == Port::Wait::Failed)
            return {false, true};
    }
}
