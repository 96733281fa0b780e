// Location indexes bound to USB port paths ("1-1.4"), kept in a file so a
// phone keeps its index when it comes back in another mode at the same port
// and across restarts, and a bench's ports can be labelled. The file holds
// one "PORTPATH INDEX" line per port; writers hold an flock on it.
#pragma once
#include <string>

#include "tools/devices/backend.h"

namespace devices {

// VANTOR_PORT_TABLE, else /var/lib/vantor/usb-ports for root, else
// $XDG_STATE_HOME/vantor/usb-ports (default ~/.local/state/vantor/usb-ports).
std::string PortTablePath();

// The index of the port, bound now to the next free one (from 1) when the
// port is new. kAccessDenied when the table may not be opened, kFailed when
// it cannot be read or written or two of its ports share one index (both
// named on stderr); *index is then 0.
Status IndexOfPort(const std::string& portPath, unsigned* index);
// Creates the table when there is none; the ports labelled in it keep their
// indexes. Fails as IndexOfPort does.
Status InitPortTable();

}  // namespace devices
