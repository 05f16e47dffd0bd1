// The counter's library calls served over the kernel's USB-serial ttys. The calls
// themselves are the ones declared in platform/d2xx.h; this header adds the seam
// that decides which ports count as devices.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tty {

struct PortEntry {
    std::string name;    // path of the tty, e.g. "/dev/ttyUSB0"
    std::string serial;  // the USB serial-number string
};

// Lists the ports that count as devices, in any order; the backend sorts them.
typedef std::vector<PortEntry> (*PortLister)();

// Every USB-to-serial converter port the system has (ttyUSB). A port whose USB device
// reports no serial number is listed under its path, so that it can still be opened.
std::vector<PortEntry> systemUsbPorts();

// Whether a port's path names a USB-to-serial converter ("/dev/ttyUSB3"). The counter
// is one; a CDC-ACM port (ttyACM) is some other instrument or a modem, and must never
// get the counter's commands.
bool isConverterPort(const std::string& name);

// Replaces the lister (nullptr restores systemUsbPorts) and forgets the kept list.
void setPortLister(PortLister lister);

// From now on the only port is `path` (any tty: a USB converter, a pseudo-terminal),
// listed under its path as its serial number while it exists; "" lists the system's
// ports again. The path is taken as given: the user chose it.
void usePort(const std::string& path);

// The ports as the library lists them now, sorted by name.
std::vector<PortEntry> currentPorts();

// The program asks for the device count thousands of times back to back; the list is
// kept and built again only when it is at least this old.
constexpr std::chrono::milliseconds rescanInterval{10};

// Time-outs of a handle until FT_SetTimeouts changes them: no call waits unbounded.
constexpr unsigned defaultTimeoutMs = 1000;

}  // namespace tty
