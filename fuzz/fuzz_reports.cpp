// libFuzzer target: the writers of rendle-reduce's output over a level sheet whose cell texts and
// benchmark RLs are arbitrary bytes (an edited cell, an argument of unknown encoding) and whose
// numbers are arbitrary doubles. The JSON document must always parse as UTF-8 JSON, as one line
// for a book of many, with every finite number reading back to the same double; the text report
// must always be UTF-8.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "grid/Utf8.h"
#include "report/JsonReport.h"
#include "report/TextReport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    rendle::grid::Grid sheet;
    rendle::core::SetUpLevelSheet(sheet);
    rendle::core::RunState run;
    // Each line of the input is a cell text, laid out over the sheet's eight columns from row 5.
    int32_t cell = 0;
    size_t start = 0;
    while (start <= input.size() && cell < 400) {
        const size_t end = std::min(input.find('\n', start), input.size());
        const std::string_view text = input.substr(start, end - start);
        const int32_t row = 5 + cell / 8;
        const int32_t col = 1 + cell % 8;
        if (!text.empty() && text[0] == '#') {
            // "#" and eight bytes: those bytes as a double; else a number from the length.
            double number = static_cast<double>(text.size()) / 7.0;
            if (text.size() >= 1 + sizeof number)
                std::memcpy(&number, text.data() + 1, sizeof number);
            sheet.SetCellNumber(row, col, number);
        } else {
            sheet.SetCellText(row, col, text);
        }
        if (cell == 0) run.StartRL = std::string(text);
        if (cell == 1) run.EndRL = std::string(text);
        ++cell;
        start = end + 1;
    }
    rendle::commands::ReadCommandResult outcome;
    outcome.formRL = rendle::commands::RLBoxes{std::string(input.substr(0, 16)), "100"};
    const std::vector<rendle::commands::ShownMessage> messages = {
        {"SAVE LEVEL", "The level sheet was not saved to " + std::string(input.substr(0, 32))}};

    const std::string book(input.substr(0, 24));
    for (const std::string* fieldBook : {static_cast<const std::string*>(nullptr), &book}) {
        const std::string document =
            rendle::report::JsonReport(sheet, run, outcome, messages, nullptr,
                                       {fieldBook, nullptr, nullptr, fieldBook != nullptr});
        if (fieldBook && document.find('\n') != document.size() - 1) std::abort();
        const nlohmann::json parsed = nlohmann::json::parse(document, nullptr, false);
        if (parsed.is_discarded()) std::abort();
        for (const auto& entry : parsed["sheet"]["cells"]) {
            if (!entry.contains("number")) continue;
            // A number is written to a nanometre; past 2^52 nm as it is.
            const double number = sheet.CellNumber(entry["row"], entry["col"]);
            if (std::isfinite(number) ? std::fabs(entry["number"].get<double>() - number) >
                                            std::max(5.0001e-10, std::fabs(number) * 1e-15)
                                      : !entry["number"].is_null()) {
                std::abort();
            }
        }
    }
    if (!rendle::grid::IsValidUtf8(rendle::report::LevelReport(sheet))) std::abort();
    return 0;
}
