// Writes a large synthetic field book for the whole-process timings.
// Usage: rendle_make_field_book sdr20|sdr33|m5|gsi MEGABYTES PATH
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "FieldBookMaker.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: rendle_make_field_book sdr20|sdr33|m5|gsi MEGABYTES PATH\n";
        return 64;
    }
    const std::string name = argv[1];
    const auto format = name == "sdr20"   ? rendle::readers::FieldBookFormat::SDR20
                        : name == "sdr33" ? rendle::readers::FieldBookFormat::SDR33
                        : name == "gsi"   ? rendle::readers::FieldBookFormat::GSI
                                          : rendle::readers::FieldBookFormat::M5;
    const size_t bytes = static_cast<size_t>(std::atoll(argv[2])) << 20;
    std::ofstream(argv[3], std::ios::binary) << rendle::bench::MakeFieldBook(format, bytes);
    return 0;
}
