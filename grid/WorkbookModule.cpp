#include "grid/WorkbookModule.h"

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "grid/Grid.h"
#include "grid/Workbook.h"

extern "C" __attribute__((visibility("default"))) int rendle_write_workbook_sheets(
    const rendle::grid::Grid* const* sheets, size_t count, const char* path, char* error,
    size_t errorSize) {
    std::string reason;
    try {
        rendle::grid::WriteWorkbookSheets(
            std::vector<const rendle::grid::Grid*>(sheets, sheets + count), path);
        return 1;
    } catch (const std::exception& failure) {
        // GridError, and anything else, goes back as text: no exception crosses the module.
        reason = failure.what();
    }
    if (error && errorSize > 0) {
        std::strncpy(error, reason.c_str(), errorSize - 1);
        error[errorSize - 1] = '\0';
    }
    return 0;
}

// The signature the program expects of the entry point.
[[maybe_unused]] static constexpr WriteSheetsFunction kEntryPoint = &rendle_write_workbook_sheets;
