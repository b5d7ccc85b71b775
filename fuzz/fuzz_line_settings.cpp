// Arbitrary text as a line-settings string: parsed or refused, never more.
#include "link/LineSettings.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto settings = parseLineSettings(text)) {
        if (settings->baudRate <= 0 || settings->dataBits < QSerialPort::Data5
            || settings->dataBits > QSerialPort::Data8)
            std::abort();
    }
    return 0;
}
