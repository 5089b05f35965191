// Every JSON document a test has a program print is kept, when RENDLE_JSON_DUMP names a folder,
// so that the schema check can hold each against its program's schema.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace rendle::testing {

/// Keeps `text`, printed by `program` ("reduce" or "net"), as a file of its own.
inline void KeepJsonDocument(const std::string& program, const std::string& text) {
    const char* folder = std::getenv("RENDLE_JSON_DUMP");
    if (folder == nullptr || *folder == '\0' || text.empty()) return;
    static std::atomic<int> kept{0};
    std::filesystem::create_directories(folder);
    std::ofstream(std::filesystem::path(folder) / (program + "-" + std::to_string(getpid()) + "-" +
                                                   std::to_string(++kept) + ".json"),
                  std::ios::binary)
        << text;
}

}  // namespace rendle::testing
