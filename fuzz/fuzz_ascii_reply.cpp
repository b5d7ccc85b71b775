// Arbitrary bytes from a reader into the ASCII reply assembler of both
// framings: it must never read or write outside its buffer, and a reply it
// accepts must be a whole frame with a good checksum.
#include "link/Frames.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (std::uint8_t start : {Frames::STX, Frames::LF}) {
        Frames::ReplyState reply;
        for (std::size_t i = 0; i < size; ++i) {
            const auto done = Frames::feedAscii(reply, start, data[i]);
            if (!done)
                continue;
            if (*done) {
                if (reply.ReplyLength < 4 || reply.ReplyBuffer[0] != start
                    || reply.ReplyBuffer[reply.ReplyLength - 1] != Frames::CR || !Frames::ReplyChecksumOk(reply))
                    std::abort();
            }
            reply = Frames::ReplyState();
        }
    }
    return 0;
}
