#include "reading/BusyPort.h"

#include "link/PortHolders.h"
#include "text/Printable.h"

InfoLine busyPortLine(const QString& port)
{
    const QList<PortHolder> holders = portHolders(port);
    if (holders.isEmpty())
        return {Text::PortBusy, {}, {shownName(port)}};
    const PortHolder& holder = holders.first();
    return {Text::PortBusyBy, {}, {shownName(port), shownName(holder.name), QString::number(holder.pid)}};
}
