// libFuzzer target: the help viewer's reading of a request line from the help channel.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ui/Help.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto request = rendle::ui::help::ParseHelpRequest(line)) {
        // A request taken must name its client; an oversized line is never taken.
        if (request->client.isEmpty() || line.size() > rendle::ui::help::kMaxHelpMessage) {
            std::abort();
        }
    }
    return 0;
}
