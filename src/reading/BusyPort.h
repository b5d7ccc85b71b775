// The info-log line for a port that another program holds: it names that
// program where the system tells (link/PortHolders.h).
#pragma once

#include "reading/InfoLine.h"

InfoLine busyPortLine(const QString& port);
