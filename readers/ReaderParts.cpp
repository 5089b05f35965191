#include "readers/ReaderParts.h"

#include <optional>
#include <string>
#include <utility>

#include "grid/NumberFormat.h"
#include "grid/Utf8.h"

namespace rendle::readers::parts {

double MeasuredValue(const ReadPlace& place, std::string_view line, size_t position, size_t length,
                     const char* what) {
    const std::string_view field = Field(line, position, length);
    const auto where = [&] {
        return std::string(what) + " at position " + std::to_string(position);
    };
    for (size_t i = 0; i + 1 < field.size(); ++i) {
        if (field[i] >= '0' && field[i] <= '9' && field[i + 1] == ',') {
            throw Stop{std::string(kCheckDataFile),
                       where() + " has a decimal comma (" + std::string(LeftTrimmed(field)) + ")"};
        }
    }
    bool whole = true;
    const std::optional<double> value = NumericValue(field, &whole);
    if (!value) throw Stop{std::string(kCheckDataFile), where() + " is too large a number"};
    if (!whole) {
        std::string shown(LeftTrimmed(field));
        shown.erase(shown.find_last_not_of(' ') + 1);
        place.warnings.Add(WarningKind::NoNumber, place.lines.LineNumber(),
                           std::string(what) + " \"" + shown + "\" is no number and was read as " +
                               grid::GeneralNumberText(*value));
    }
    return *value;
}

std::vector<LevellingLine> Listed(std::vector<LevellingLine> found,
                                  const std::vector<bool>& withReadings) {
    size_t listed = 0;
    for (size_t i = 0; i < found.size(); ++i) {
        if (!withReadings[i]) continue;
        if (listed != i) found[listed] = std::move(found[i]);
        found[listed].number = static_cast<int>(listed + 1);
        ++listed;
    }
    found.resize(listed);
    found.shrink_to_fit();
    return found;
}

std::string CutOffReason(size_t position, std::string_view inside) {
    return "the last line has no line end and stops at position " + std::to_string(position) +
           ", inside " + std::string(inside) + ": the field book looks cut off";
}

void CheckNotCutOff(const LineReader& lines, std::string_view line,
                    std::initializer_list<RecordField> fields) {
    if (lines.LastLineEnded()) return;
    const size_t characters = grid::Utf8Characters(line);
    for (const RecordField& field : fields) {
        if (characters < field.end) {
            throw Stop{std::string(kCheckDataFile), CutOffReason(characters, field.name)};
        }
    }
}

}  // namespace rendle::readers::parts
