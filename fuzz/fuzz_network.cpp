// libFuzzer target: a CSV file of observations (the first byte chooses the weights, and
// whether the first point is held or the network is free), adjusted with data snooping and
// every statistic and written as the text report and the JSON document. A file that does not
// read, or a network that cannot be adjusted, must say so; nothing may crash or hang.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "network/Adjustment.h"
#include "network/NetworkInput.h"
#include "network/NetworkReport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendle::network;
    if (size < 1 || size > 4096) return 0;
    const uint8_t choice = data[0];
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    try {
        const std::vector<Observation> observations = ReadObservations(in, "fuzz.csv");
        AdjustmentOptions options;
        options.weighting = static_cast<Weighting>(choice % 3);
        options.snoop = (choice & 4) != 0 ? Snooping::Always : Snooping::Off;
        std::vector<Benchmark> benchmarks;
        if ((choice & 8) != 0 && !observations.empty()) {
            benchmarks.push_back({observations.front().from, 0.0, std::nullopt});
        }
        const NetworkResult result = Adjust(observations, benchmarks, {}, options);
        for (const AdjustedObservation& o : result.observations) {
            if (o.redundancy < 0 || o.redundancy > 1) std::abort();
        }
        std::ostringstream text;
        WriteTextReport(result, {}, text);
        WriteJsonReport(result, {}, text);
    } catch (const NetworkError&) {
        // said, as it should be
    }
    return 0;
}
