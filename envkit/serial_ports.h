// The serial ports offered to the console: the ports configured for a
// simulator first ($ROLTA_EXTRA_PORTS, colon-separated absolute paths, then
// $XDG_CONFIG_HOME/rolta/extra-ports, one path per line), then the machine's
// own devices: /dev/ttyS* that have a UART behind them, /dev/ttyUSB*,
// /dev/ttyACM*, each family in number order.
//
// Devices under /dev are named without "/dev/" ("ttyUSB0"); other paths stay
// absolute. A name longer than 49 bytes, a relative configured path and a
// repeated name are left out; at most 100 names are listed.
#pragma once

#include "env/envkit_types.h"

namespace envkit {

// Fills list and returns the count.
int CollectSerialPorts(rolta::PortList& list);

}  // namespace envkit
