#include "ProcessMemory.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

long StatusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + field.size());
        }
    }
    return 0;
}

} // namespace

long CurrentKilobytes() {
    return StatusKilobytes("VmRSS:");
}

long PeakKilobytes() {
    return StatusKilobytes("VmHWM:");
}

void ResetPeak() {
    // "5" resets the peak resident size (Linux 4.0 and later).
    std::ofstream("/proc/self/clear_refs") << "5";
}
