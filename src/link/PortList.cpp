#include "link/PortList.h"

#include <QSerialPortInfo>
#include <algorithm>

QStringList buildPortList(const QStringList& extraPorts)
{
    QStringList enumerated;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        enumerated << info.systemLocation();
    return buildPortList(enumerated, extraPorts);
}

QStringList buildPortList(QStringList enumerated, const QStringList& extraPorts)
{
    std::stable_sort(enumerated.begin(), enumerated.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QStringList list = enumerated;
    for (const QString& port : extraPorts) {
        if (!list.contains(port))
            list << port;
    }
    if (list.isEmpty()) {
        for (int i = 0; i < 16; ++i)
            list << QStringLiteral("/dev/ttyS%1").arg(i);
    }
    return list;
}

int portListSelection(const QStringList& list, const QString& portName)
{
    const int index = list.indexOf(portName);
    return index >= 0 ? index : static_cast<int>(list.size()) - 1;
}
