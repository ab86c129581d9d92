#include "OpsTestBench.h"
#include "tests/support/SimForDevice.h"

#include <algorithm>
#include <random>

namespace {
constexpr int kSimComPort = 2;
constexpr uint8_t kErased = 0xFF;
constexpr char kLineEnd[] = "\r\n";
constexpr size_t kLineEndLength = sizeof(kLineEnd) - 1;
}  // namespace

int CFakeHost::Count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

SimConfig COpsBench::MakeConfig(int chipRow, const ConfigChange& change) {
    SimConfig config = SimConfigForDevice(chipRow);
    if (change) {
        change(config);
    }
    return config;
}

COpsBench::COpsBench(int chipRow, const ConfigChange& change, int selectedRow, bool overCable)
    : sim(MakeConfig(chipRow, change), counter),
      cable(sim, counter, false, 0),
      ftdi(cable, FtdiPortOptions()),
      port(overCable ? static_cast<ISerialPort&>(ftdi) : sim),
      adapter(port, counter),
      ops(adapter, images, host) {
    adapter.SetPortNames({{kSimComPort, "sim"}});
    adapter.SelectPort(kSimComPort);
    adapter.SelectDeviceRow(selectedRow < 0 ? chipRow : selectedRow);
    images.m_progImage.assign(adapter.m_nProgSize, kErased);
    images.m_dataImage.assign(adapter.m_nDataSize, kErased);
    port.ResetCount();
}

void COpsBench::FillRandom(std::vector<uint8_t>& bytes, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 0xFF);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(byte(random));
    }
}

std::vector<std::string> PaneLines(const std::string& pane) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < pane.size()) {
        const size_t end = pane.find(kLineEnd, start);
        const size_t next = end == std::string::npos ? pane.size() : end + kLineEndLength;
        lines.push_back(pane.substr(start, next - start));
        start = next;
    }
    return lines;
}
