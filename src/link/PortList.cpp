#include "link/PortList.h"

#include <algorithm>

#ifdef Q_OS_WIN
#include "link/windows/WinPorts.h"
#else
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <sys/stat.h>
#endif

namespace {

#ifndef Q_OS_WIN
// The stable names udev keeps for USB serial adapters, by the device each
// leads to.
QHash<QString, QString> stableNames()
{
    QHash<QString, QString> names;
    const QDir folder(QStringLiteral("/dev/serial/by-id"));
    const QFileInfoList links = folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        const QString device = link.canonicalFilePath();
        if (!device.isEmpty() && !names.contains(device))
            names.insert(device, link.absoluteFilePath());
    }
    return names;
}

QString detailsOf(const QSerialPortInfo& info)
{
    QStringList parts;
    for (const QString& part : {info.description(), info.manufacturer()}) {
        if (!part.isEmpty() && !parts.contains(part))
            parts << part;
    }
    if (!info.serialNumber().isEmpty())
        parts << QStringLiteral("S/N ") + info.serialNumber();
    return parts.join(QStringLiteral(", "));
}
#endif

}  // namespace

QString portLabel(const PortEntry& entry)
{
    QStringList beside;
    if (!entry.details.isEmpty())
        beside << entry.details;
    if (!entry.device.isEmpty() && entry.device != entry.name)
        beside << entry.device;
    return beside.isEmpty() ? entry.name : entry.name + QStringLiteral(" \u2014 ") + beside.join(QStringLiteral(", "));
}

QList<PortEntry> systemPortEntries(const QStringList& extraPorts)
{
    QList<PortEntry> enumerated;
#ifdef Q_OS_WIN
    // Already in the order of the device names the ports are listed under.
    for (const WindowsPort& port : windowsSerialPorts())
        enumerated << PortEntry{QString::fromStdWString(port.name), {}, QString::fromStdWString(port.details)};
#else
    const QHash<QString, QString> stable = stableNames();
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    std::stable_sort(ports.begin(), ports.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        return a.systemLocation().compare(b.systemLocation(), Qt::CaseInsensitive) < 0;
    });
    for (const QSerialPortInfo& info : ports) {
        const QString device = info.systemLocation();
        const QString name = stable.value(device, device);
        enumerated << PortEntry{name, name == device ? QString() : device, detailsOf(info)};
    }
#endif
    return portEntries(enumerated, extraPorts);
}

QList<PortEntry> portEntries(QList<PortEntry> list, const QStringList& extraPorts)
{
    for (const QString& port : extraPorts) {
        const bool listed = std::any_of(list.begin(), list.end(), [&](const PortEntry& e) { return e.name == port; });
        if (!listed)
            list << PortEntry{port, {}, {}};
    }
    if (list.isEmpty()) {
        for (int i = 0; i < 16; ++i) {
#ifdef Q_OS_WIN
            list << PortEntry{QStringLiteral("COM%1").arg(i + 1), {}, {}};
#else
            list << PortEntry{QStringLiteral("/dev/ttyS%1").arg(i), {}, {}};
#endif
        }
    }
    return list;
}

QStringList portNames(const QList<PortEntry>& entries)
{
    QStringList names;
    for (const PortEntry& entry : entries)
        names << entry.name;
    return names;
}

QStringList buildPortList(const QStringList& enumerated, const QStringList& extraPorts)
{
    QStringList sorted = enumerated;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    QList<PortEntry> entries;
    for (const QString& name : sorted)
        entries << PortEntry{name, {}, {}};
    return portNames(portEntries(entries, extraPorts));
}

int portListSelection(const QStringList& list, const QString& portName)
{
    const int index = list.indexOf(portName);
    return index >= 0 ? index : static_cast<int>(list.size()) - 1;
}

QString listedNameOf(const QList<PortEntry>& entries, const QString& portName)
{
    for (const PortEntry& entry : entries) {
        if (entry.name == portName)
            return portName;
    }
    for (const PortEntry& entry : entries) {
        if (!entry.device.isEmpty() && entry.device == portName)
            return entry.name;
    }
    return portName;
}

bool portPresent(const QString& portName)
{
#ifdef Q_OS_WIN
    return windowsPortPresent(portName.toStdWString());
#else
    struct stat info = {};
    return !portName.isEmpty() && ::stat(QFile::encodeName(portName).constData(), &info) == 0;
#endif
}

const QStringList& standardLineSettings()
{
    static const QStringList list = {
        QStringLiteral("4800,n,8,1"),  QStringLiteral("4800,e,8,1"),   QStringLiteral("9600,n,8,1"),
        QStringLiteral("9600,e,8,1"),  QStringLiteral("19200,n,8,1"),  QStringLiteral("19200,e,8,1"),
        QStringLiteral("38400,n,8,1"), QStringLiteral("38400,e,8,1"),  QStringLiteral("57600,n,8,1"),
        QStringLiteral("57600,e,8,1"), QStringLiteral("115200,n,8,1"), QStringLiteral("115200,e,8,1"),
    };
    return list;
}
