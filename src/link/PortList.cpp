#include "link/PortList.h"

#include <algorithm>

#ifdef Q_OS_WIN
#include "link/windows/WinPorts.h"
#else
#include <QSerialPortInfo>
#endif

namespace {

// The enumerated ports, then the extra ones; the standard names when both
// are empty.
QStringList withExtraPorts(QStringList list, const QStringList& extraPorts)
{
    for (const QString& port : extraPorts) {
        if (!list.contains(port))
            list << port;
    }
    if (list.isEmpty()) {
        for (int i = 0; i < 16; ++i) {
#ifdef Q_OS_WIN
            list << QStringLiteral("COM%1").arg(i + 1);
#else
            list << QStringLiteral("/dev/ttyS%1").arg(i);
#endif
        }
    }
    return list;
}

}  // namespace

QStringList buildPortList(const QStringList& extraPorts)
{
#ifdef Q_OS_WIN
    // Already in the order of the device names the ports are listed under.
    QStringList ports;
    for (const std::wstring& name : windowsSerialPorts())
        ports << QString::fromStdWString(name);
    return withExtraPorts(ports, extraPorts);
#else
    QStringList enumerated;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        enumerated << info.systemLocation();
    return buildPortList(enumerated, extraPorts);
#endif
}

QStringList buildPortList(QStringList enumerated, const QStringList& extraPorts)
{
    std::stable_sort(enumerated.begin(), enumerated.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    return withExtraPorts(enumerated, extraPorts);
}

int portListSelection(const QStringList& list, const QString& portName)
{
    const int index = list.indexOf(portName);
    return index >= 0 ? index : static_cast<int>(list.size()) - 1;
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
