// Location indexes bound to USB port paths ("1-1.4"), kept in a file so a
// phone keeps its index when it comes back in another mode at the same port
// and across restarts, and a bench's ports can be labelled. The file holds
// one "PORTPATH INDEX" line per port; writers hold an flock on it.
#pragma once
#include <string>

namespace devices {

// VANTOR_PORT_TABLE, else /var/lib/vantor/usb-ports for root, else
// $XDG_STATE_HOME/vantor/usb-ports (default ~/.local/state/vantor/usb-ports).
std::string PortTablePath();

// The index of the port, bound now to the next free one (from 1) when the
// port is new; 0 when the table cannot be read or written.
unsigned IndexOfPort(const std::string& portPath);
// Forgets every binding; false when the table cannot be removed.
bool ResetPortTable();

}  // namespace devices
