#include "link/LineSettings.h"

#include <QStringList>

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

const QStringList& standardLineSettings()
{
    static const QStringList list = {
        QStringLiteral("4800,n,8,1"),   QStringLiteral("4800,e,8,1"),
        QStringLiteral("9600,n,8,1"),   QStringLiteral("9600,e,8,1"),
        QStringLiteral("19200,n,8,1"),  QStringLiteral("19200,e,8,1"),
        QStringLiteral("38400,n,8,1"),  QStringLiteral("38400,e,8,1"),
        QStringLiteral("57600,n,8,1"),  QStringLiteral("57600,e,8,1"),
        QStringLiteral("115200,n,8,1"), QStringLiteral("115200,e,8,1"),
    };
    return list;
}
