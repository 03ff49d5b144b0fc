#pragma once

#include <string>
#include <vector>

namespace morlen {

// A USB or ACM serial adapter present in the device folder.
struct AdapterPort {
    std::string name;     // the device's own name, short enough for the port list ("ttyUSB0")
    std::string path;     // what is opened ("/dev/ttyUSB0")
    std::string maker;    // from sysfs, empty when the system does not know it
    std::string product;  // from sysfs, empty when the system does not know it
};

// The ttyUSB* and ttyACM* devices in `deviceFolder` (normally "/dev"), USB before ACM, each in
// number order; maker and product come from the USB device above the tty in `sysfsRoot`
// (normally "/sys"). Read afresh on every call.
std::vector<AdapterPort> ListAdapterPorts(const std::string& deviceFolder = "/dev",
                                          const std::string& sysfsRoot = "/sys");

}  // namespace morlen
