#include "AdapterPorts.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

namespace morlen {

namespace {

namespace fs = std::filesystem;

// 0 for ttyUSB<n>, 1 for ttyACM<n>, -1 for any other name; `number` gets n.
int adapterKind(const std::string& name, unsigned long& number) {
    int kind = -1;
    if (name.rfind("ttyUSB", 0) == 0)
        kind = 0;
    else if (name.rfind("ttyACM", 0) == 0)
        kind = 1;
    const std::string digits = name.size() > 6 ? name.substr(6) : std::string();
    if (kind < 0 || digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
        return -1;
    number = std::stoul(digits);
    return kind;
}

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

// The tty's device node in sysfs is the usb-serial port or the USB interface; the USB device
// that names maker and product is one or two folders above it.
void readMakerAndProduct(const std::string& sysfsRoot, AdapterPort& port) {
    std::error_code error;
    fs::path dir = fs::canonical(fs::path(sysfsRoot) / "class/tty" / port.name / "device", error);
    if (error)
        return;
    for (int up = 0; up < 4 && !dir.empty() && dir != dir.root_path(); ++up) {
        if (fs::exists(dir / "product", error) || fs::exists(dir / "manufacturer", error)) {
            port.maker = firstLine(dir / "manufacturer");
            port.product = firstLine(dir / "product");
            return;
        }
        dir = dir.parent_path();
    }
}

}  // namespace

std::vector<AdapterPort> ListAdapterPorts(const std::string& deviceFolder,
                                          const std::string& sysfsRoot) {
    std::vector<std::tuple<int, unsigned long, AdapterPort>> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(deviceFolder, error)) {
        const std::string name = entry.path().filename().string();
        unsigned long number = 0;
        const int kind = adapterKind(name, number);
        // A link (for example a stand-in in tests) counts when it leads to a character device.
        std::error_code statError;
        if (kind < 0 || !fs::is_character_file(entry.path(), statError))
            continue;
        AdapterPort port;
        port.name = name;
        port.path = entry.path().string();
        readMakerAndProduct(sysfsRoot, port);
        found.emplace_back(kind, number, std::move(port));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    std::vector<AdapterPort> ports;
    for (auto& entry : found)
        ports.push_back(std::move(std::get<2>(entry)));
    return ports;
}

}  // namespace morlen
