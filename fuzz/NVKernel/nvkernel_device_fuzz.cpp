// Any record from any client, to a simulated device of any kind and driver layout with any
// faults: the device answers with a status and never reads or writes outside its state.
// Input: byte 0 picks the device, bytes 1.. are a fault line up to a newline, the rest are
// the records a client sends (260 bytes each; a short tail is sent as it is).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    uint8_t pick = data[0];
    nvk::DeviceKind kind = pick & 1 ? nvk::DeviceKind::Halvorne : nvk::DeviceKind::QM7;
    std::vector<std::string> options;
    if (pick & 2)
        options = {"--driver-major", "1"};
    if (pick & 4)
        options.push_back("--fw-word-zero");
    nvk::DeviceOptions device;
    std::string error;
    if (!nvk::parseDeviceOptions(kind, options.data(), options.size(), &device, &error))
        return 0;
    nvk::SimDevice sim(1, device);

    size_t at = 1;
    std::string line;
    while (at < size && data[at] != '\n' && line.size() < 64)
        line += char(data[at++]);
    ++at;
    std::vector<std::string> words;
    size_t start = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            if (i > start)
                words.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    nvk::applyFault(words.data(), words.size(), &sim.faults(), &error);

    while (at < size) {
        size_t n = size - at < 260 ? size - at : 260;
        nvk::Answer answer = sim.call(data + at, n);
        if (answer.length > answer.record.size())
            __builtin_trap();
        at += n;
        if (answer.reenumerate) {
            sim.unplugged();
            sim.boot();
        }
    }
    plist_t properties = sim.properties();
    plist_free(properties);
    return 0;
}
