// Arbitrary bytes into the binary reply assembler: no access outside the
// buffer, and accepted data is always the frame's own, as hexadecimal.
#include "link/Frames.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Frames::ReplyState reply;
    for (std::size_t i = 0; i < size; ++i) {
        const auto done = Frames::feedBinary(reply, data[i]);
        if (!done)
            continue;
        if (!*done)
            std::abort();  // the binary assembler only finishes with true
        const int length = reply.ReplyLength;
        if (length != 0) {
            // A frame of 8 bytes has its status and checksum in one byte, and no data.
            const int dataBytes = length > 9 ? length - 9 : 0;
            if (length < 8 || reply.ReplyText.size() != static_cast<std::size_t>(2 * dataBytes))
                std::abort();
        } else if (!reply.ReplyText.empty()) {
            std::abort();
        }
        reply = Frames::ReplyState();
    }
    return 0;
}
