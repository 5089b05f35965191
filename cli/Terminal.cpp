#include "cli/Terminal.h"

#include <unistd.h>

#include <cerrno>

#include "cli/OutputModules.h"
#include "report/TextReport.h"

namespace rendle::cli {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void Say(const std::string& line) {
    WriteAll(ProgramStderr(), report::EscapedText(line) + "\n");
}

std::string NotAnOption(const std::string& value) {
    if (value.starts_with("--")) return "needs a value, not the option " + value;
    return {};
}

}  // namespace rendle::cli
