#include "link/LineSettings.h"

#include <QStringList>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

std::optional<LineSettings> parseLineSettings(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return std::nullopt;

    LineSettings settings;
    bool ok = false;
    const QString baud = fields[0].trimmed();
    settings.baudRate = baud.toInt(&ok);
    if (!ok || settings.baudRate <= 0 || !baud.at(0).isDigit())
        return std::nullopt;

    const QString parity = fields[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        settings.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        settings.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        settings.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        settings.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        settings.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const QString data = fields[2].trimmed();
    if (data.size() != 1 || data[0] < QLatin1Char('5') || data[0] > QLatin1Char('8'))
        return std::nullopt;
    settings.dataBits = static_cast<QSerialPort::DataBits>(data[0].digitValue());

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        settings.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        settings.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        settings.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return settings;
}

LineSettings currentLineSettings(const QString& portName)
{
    LineSettings settings;
#ifdef Q_OS_UNIX
    const QString path = portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return settings;
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        static const struct {
            speed_t code;
            qint32 rate;
        } rates[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},    {B19200, 19200},
                     {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
        for (const auto& r : rates) {
            if (cfgetospeed(&t) == r.code)
                settings.baudRate = r.rate;
        }
        settings.parity = !(t.c_cflag & PARENB) ? QSerialPort::NoParity
            : (t.c_cflag & PARODD)              ? QSerialPort::OddParity
                                                : QSerialPort::EvenParity;
        switch (t.c_cflag & CSIZE) {
        case CS5: settings.dataBits = QSerialPort::Data5; break;
        case CS6: settings.dataBits = QSerialPort::Data6; break;
        case CS7: settings.dataBits = QSerialPort::Data7; break;
        default: settings.dataBits = QSerialPort::Data8; break;
        }
        settings.stopBits = (t.c_cflag & CSTOPB) ? QSerialPort::TwoStop : QSerialPort::OneStop;
    }
    ::close(fd);
#else
    Q_UNUSED(portName);
#endif
    return settings;
}
