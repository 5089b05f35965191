#include "readers/GsiBook.h"

#include <array>
#include <cmath>
#include <optional>
#include <utility>

#include "core/LevelSheet.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "grid/NumberFormat.h"
#include "readers/FieldBookLine.h"

namespace rendle::readers {

namespace {

using parts::CheckCapacity;
using parts::Counter16;
using parts::kCheckDataFile;
using parts::RowCounter;
using parts::Stop;
using parts::WriteReading;

// Word indices of a levelling book.
constexpr int kPointId = 11;
constexpr int kDistance = 32;
constexpr int kHeight = 83;
constexpr int kLineStart = 41;
constexpr int kLineName = 271;
constexpr int kBacksight1 = 331;
constexpr int kForesight1 = 332;
constexpr int kIntermediate = 333;
constexpr int kBacksight2 = 335;
constexpr int kForesight2 = 336;
constexpr int kStationDifference = 571;

/// One word of a block.
struct Word {
    int index = 0;          ///< the word index (WI)
    std::string_view info;  ///< what stands between the index and the sign (block number ...)
    char unit = ' ';        ///< the character before the sign: the units of a measurement
    bool negative = false;
    std::string_view data;  ///< from after the sign to the word's end, trailing blanks gone
};

/// Word indices of three digits (331, 571, 271 ...) begin with these two.
bool ThreeDigitFamily(int first2) {
    return first2 == 27 || first2 == 33 || first2 == 39 || first2 == 50 || first2 == 51 ||
           first2 == 57;
}

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

/// The words the reduction reads; any other never refuses a book.
bool Used(int index) {
    switch (index) {
        case kPointId:
        case kDistance:
        case kHeight:
        case kLineStart:
        case kBacksight1:
        case kForesight1:
        case kIntermediate:
        case kBacksight2:
        case kForesight2:
        case kStationDifference:
            return true;
        default:
            return false;
    }
}

/// A word starts with its index (two digits), the information to position 6 (digits and
/// dots) and the sign in position 7.
bool WordStartsAt(std::string_view line, size_t at) {
    if (at + 7 > line.size() || !Digit(line[at]) || !Digit(line[at + 1])) return false;
    for (size_t i = at + 2; i < at + 6; ++i) {
        if (!Digit(line[i]) && line[i] != '.') return false;
    }
    return line[at + 6] == '+' || line[at + 6] == '-';
}

/// The words of a block, found by where they start: the instruments keep no fixed positions
/// (a number longer than its field, a text with blanks, a last word short of its field). A
/// word's data runs to the next blank that a word start follows, or to the line end. GSI-16
/// blocks start with "*".
std::vector<Word> Words(std::string_view line, size_t lineNumber, bool lastLineEnded) {
    const bool wide = line.starts_with('*');
    size_t at = wide ? 1 : 0;
    const auto skipBlanks = [&](size_t from) {
        while (from < line.size() && line[from] == ' ') ++from;
        return from;
    };
    std::vector<Word> words;
    at = skipBlanks(at);
    if (at < line.size() && !WordStartsAt(line, at)) {
        throw Stop{std::string(kCheckDataFile),
                   "line " + std::to_string(lineNumber) + ", word at position " +
                       std::to_string(CharacterCount(line.substr(0, at)) + 1) +
                       ": no word index and sign"};
    }
    size_t lastDataLength = 0;
    while (at < line.size()) {
        Word word;
        const int first2 = (line[at] - '0') * 10 + (line[at + 1] - '0');
        const bool three = ThreeDigitFamily(first2) && Digit(line[at + 2]);
        word.index = three ? first2 * 10 + (line[at + 2] - '0') : first2;
        word.info = line.substr(at + (three ? 3 : 2), three ? 3 : 4);
        word.unit = line[at + 5];
        word.negative = line[at + 6] == '-';
        const size_t dataBegin = at + 7;
        size_t next = dataBegin;
        size_t dataEnd = line.size();
        for (; next < line.size(); ++next) {
            if (line[next] != ' ') continue;
            const size_t following = skipBlanks(next);
            if (following < line.size() && WordStartsAt(line, following)) {
                dataEnd = next;
                next = following;
                break;
            }
            // In a word the reduction uses, a word index and its information without the sign
            // after them is a damaged word, not text: taken as text it would hide a reading or
            // a distance. (Remarks may hold anything: a date, a number.)
            if (Used(word.index) && following + 7 <= line.size() &&
                WordStartsAt(std::string(line.substr(following, 6)) + "+", 0)) {
                throw Stop{std::string(kCheckDataFile),
                           "line " + std::to_string(lineNumber) + ", word at position " +
                               std::to_string(CharacterCount(line.substr(0, following)) + 1) +
                               ": no sign in position 7"};
            }
        }
        if (next >= line.size()) next = line.size();
        std::string_view data = line.substr(dataBegin, dataEnd - dataBegin);
        lastDataLength = data.size();
        data = data.substr(0, data.find_last_not_of(' ') + 1);
        word.data = data;
        words.push_back(word);
        at = next;
    }
    // A last line without a line end whose last word stops well short of its field (8 or 16
    // characters) was cut off while the book was copied: its number may be cut short.
    const size_t field = wide ? 16 : 8;
    if (!lastLineEnded && !words.empty() && lastDataLength + 1 < field) {
        throw Stop{std::string(kCheckDataFile),
                   "the last line has no line end and stops inside a word: the field book looks "
                   "cut off"};
    }
    return words;
}

/// A length in metres from a measurement word: its digits scaled by the units digit.
double Metres(const Word& word, size_t lineNumber, const char* what) {
    int decimals = 0;
    switch (word.unit) {
        case '0':
            decimals = 3;
            break;
        case '6':
            decimals = 4;
            break;
        case '8':
            decimals = 5;
            break;
        case '1':
        case '7':
            throw Stop{
                "The field book gives its values in feet (GSI units digit " +
                    std::string(1, word.unit) +
                    "); only metres are read. Please Check Your Data File ",
                std::string(what) + " on line " + std::to_string(lineNumber) + " is in feet"};
        default:
            throw Stop{std::string(kCheckDataFile),
                       std::string(what) + " on line " + std::to_string(lineNumber) +
                           " has the units digit \"" + std::string(1, word.unit) +
                           "\", which is no length unit"};
    }
    const std::string_view digits = LeftTrimmed(word.data);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        throw Stop{std::string(kCheckDataFile), std::string(what) + " on line " +
                                                    std::to_string(lineNumber) + " is no number (" +
                                                    std::string(digits) + ")"};
    }
    // The digits with the decimal point put in, read as decimal text: exact to the last digit.
    std::string text(word.negative ? "-" : "");
    if (digits.size() <= static_cast<size_t>(decimals)) {
        text += "0." + std::string(static_cast<size_t>(decimals) - digits.size(), '0');
        text += digits;
    } else {
        text += digits.substr(0, digits.size() - static_cast<size_t>(decimals));
        text += '.';
        text += digits.substr(digits.size() - static_cast<size_t>(decimals));
    }
    return *core::ParseDecimalText(text);
}

/// A point ID: right-aligned and padded with zeros, which go; all zeros is "0".
std::string PointId(const Word& word) {
    std::string_view id = LeftTrimmed(word.data);
    while (id.size() > 1 && id.front() == '0') id.remove_prefix(1);
    std::string text(id);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

const char* MethodName(int method) {
    switch (method) {
        case 2:
            return "BFFB";
        case 3:
            return "aBF";
        case 4:
            return "aBFFB";
        default:
            return "BF";
    }
}

/// The method of a line-start block (41, data "?......N"); another digit is refused.
int MethodOf(const Word& word, size_t lineNumber) {
    const std::string_view data = word.data;
    const size_t last = data.find_last_not_of(' ');
    const char digit = last == std::string_view::npos ? ' ' : data[last];
    if (digit >= '1' && digit <= '4') return digit - '0';
    throw Stop{"The levelling method " + std::string(1, digit) + " of the line starting on line " +
                   std::to_string(lineNumber) +
                   " is not known; 1 BF, 2 BFFB, 3 aBF and 4 aBFFB are read. Please Check Your "
                   "Data File ",
               "the levelling method " + std::string(1, digit) + " is not known"};
}

/// One sight of a set-up, held until the set-up is whole.
struct Sight {
    std::string station;
    double reading = 0;
    double distance = 0;
    std::optional<double> z;  ///< the instrument's height of the point, for an intermediate
};

struct SetUp {
    std::array<std::optional<Sight>, 2> backs;  ///< B1, B2
    std::array<std::optional<Sight>, 2> fores;  ///< F1, F2
    std::vector<Sight> intermediates;
    std::optional<double> z;                 ///< the instrument's height of the foresight point
    std::optional<double> storedDifference;  ///< word 571, where the instrument stored it
    size_t line = 0;                         ///< where its last reading was

    bool Empty() const {
        return !backs[0] && !backs[1] && !fores[0] && !fores[1] && intermediates.empty();
    }
    bool Whole(int readings) const {
        for (int i = 0; i < readings; ++i) {
            if (!backs[static_cast<size_t>(i)] || !fores[static_cast<size_t>(i)]) return false;
        }
        return true;
    }
};

/// Mean reading and distance of the sights there are, and the first's station.
std::optional<Sight> MeanOf(const std::array<std::optional<Sight>, 2>& sights) {
    std::optional<Sight> mean;
    int count = 0;
    for (const auto& sight : sights) {
        if (!sight) continue;
        if (!mean) {
            mean = *sight;
        } else {
            mean->reading += sight->reading;
            mean->distance += sight->distance;
        }
        ++count;
    }
    if (mean && count > 1) {
        mean->reading /= count;
        mean->distance /= count;
    }
    return mean;
}

/// The reading words of a block.
bool IsReading(int index) {
    return index == kBacksight1 || index == kBacksight2 || index == kForesight1 ||
           index == kForesight2 || index == kIntermediate;
}

/// Reads the blocks of one run into the sheet.
class RunReader {
  public:
    RunReader(grid::Grid& sheet, core::RunState& run, std::vector<ReadWarning>& warnings)
        : sheet_(sheet), run_(run), warnings_(warnings) {
        rows_.lineCounter = core::kFirstMarkerRow - 1;
    }

    void SetMethod(int method) { readings_ = method == 2 || method == 4 ? 2 : 1; }

    void Block(const std::vector<Word>& words, size_t lineNumber) {
        std::string id;
        std::optional<double> distance;
        std::optional<double> height;
        int reading = 0;
        double value = 0;
        bool closing = false;
        for (const Word& word : words) {
            if (word.index == kPointId) {
                id = PointId(word);
            } else if (word.index == kDistance) {
                distance = Metres(word, lineNumber, "the distance");
            } else if (word.index == kHeight) {
                height = Metres(word, lineNumber, "the height");
            } else if (IsReading(word.index)) {
                reading = word.index;
                value = Metres(word, lineNumber, "the staff reading");
            } else if (word.index == kStationDifference) {
                setUp_.storedDifference = Metres(word, lineNumber, "the station difference");
                closing = true;
            } else if (word.index >= 572 && word.index <= 574) {
                closing = true;
            }
        }
        if (reading != 0) {
            Reading(reading, Sight{id, value, distance.value_or(0), std::nullopt}, lineNumber);
            if (height) Height(*height, reading == kIntermediate);
        } else if (height) {
            if (!started_) {
                // The first height of a line is its starting height, entered or carried over.
                run_.EnteredStartRL = *height;
                run_.instrument.startZ = *height;
            } else {
                Height(*height, !closing && lastWasIntermediate_);
            }
        }
        started_ = started_ || height.has_value() || reading != 0;
    }

    /// Lays out what the run ended inside, and gives the rows written.
    RowCounter Finish() {
        if (!setUp_.Empty()) LayOut();
        return rows_;
    }

  private:
    void Reading(int index, Sight sight, size_t lineNumber) {
        if (index == kIntermediate) {
            setUp_.intermediates.push_back(std::move(sight));
            lastWasIntermediate_ = true;
            return;
        }
        lastWasIntermediate_ = false;
        const bool back = index == kBacksight1 || index == kBacksight2;
        const size_t which = index == kBacksight2 || index == kForesight2 ? 1 : 0;
        if (setUp_.Whole(readings_)) LayOut();  // this reading starts the next set-up
        auto& slot = back ? setUp_.backs[which] : setUp_.fores[which];
        // A reading taken again before the set-up is whole: the instrument measures the set-up
        // again, and the readings that are there are the ones it kept.
        if (slot) {
            SetUp again;
            again.intermediates = std::move(setUp_.intermediates);
            setUp_ = std::move(again);
        }
        (back ? setUp_.backs[which] : setUp_.fores[which]) = std::move(sight);
        setUp_.line = lineNumber;
    }

    void Height(double z, bool ofIntermediate) {
        if (ofIntermediate && !setUp_.intermediates.empty()) {
            setUp_.intermediates.back().z = z;
        } else {
            setUp_.z = z;
        }
    }

    /// The data row a row written now will have once the reduction has deleted the marker rows
    /// of the set-ups before this one.
    int32_t DataRow() const { return static_cast<int32_t>(rows_.Row()) - (run_.StationCount - 1); }

    void Store(std::string_view sight, const Sight& s) {
        const int16_t row = rows_.Row();
        sheet_.SetCellText(row, core::kColStation, s.station);
        CheckCapacity(rows_);
        sheet_.SetCellNumber(row, core::kColDist, s.distance);
        WriteReading(sheet_, row, sight, s.reading);
    }

    void LayOut() {
        const std::optional<Sight> back = MeanOf(setUp_.backs);
        const std::optional<Sight> fore = MeanOf(setUp_.fores);
        if (back) {
            rows_.Advance(1);
            sheet_.SetCellText(rows_.Row(), core::kColSightType, core::kMarker);
            run_.StationCount = Counter16(run_.StationCount + 1, "the set-up count");
            rows_.Advance(1);
            Store("BS", *back);
        }
        for (const Sight& sight : setUp_.intermediates) {
            rows_.Advance(1);
            Store("IS", sight);
            if (sight.z) run_.instrument.heights.push_back({DataRow(), *sight.z});
        }
        if (fore) {
            rows_.Advance(1);
            Store("FS", *fore);
            if (setUp_.z) run_.instrument.heights.push_back({DataRow(), *setUp_.z});
        }
        const auto& b = setUp_.backs;
        const auto& f = setUp_.fores;
        if (b[0] && b[1] && f[0] && f[1]) {
            const double difference =
                (b[0]->reading - f[0]->reading) - (b[1]->reading - f[1]->reading);
            run_.instrument.stationDifferences.push_back({run_.StationCount, difference});
            // The instrument's own figure, where it stored one, should be the same.
            if (setUp_.storedDifference &&
                std::fabs(*setUp_.storedDifference - difference) > 0.00005) {
                warnings_.push_back(
                    {setUp_.line, "the instrument's station difference " +
                                      grid::FormatNumber(*setUp_.storedDifference, "0.00000") +
                                      " m is not the readings' " +
                                      grid::FormatNumber(difference, "0.00000") + " m"});
            }
        }
        setUp_ = SetUp{};
        lastWasIntermediate_ = false;
    }

    grid::Grid& sheet_;
    core::RunState& run_;
    std::vector<ReadWarning>& warnings_;
    RowCounter rows_;
    SetUp setUp_;
    int readings_ = 1;
    bool started_ = false;
    bool lastWasIntermediate_ = false;
};

bool HasWord(const std::vector<Word>& words, int index) {
    for (const Word& word : words) {
        if (word.index == index) return true;
    }
    return false;
}

const Word* FindWord(const std::vector<Word>& words, int index) {
    for (const Word& word : words) {
        if (word.index == index) return &word;
    }
    return nullptr;
}

}  // namespace

bool LooksLikeGsi(std::string_view line) {
    if (line.starts_with('*')) line.remove_prefix(1);
    return WordStartsAt(line, 0) && (line.starts_with("11") || line.starts_with("41"));
}

namespace {

/// A block that starts a levelling line: word 41 whose data holds "?" (a free code 41 carries
/// other data and stays a code inside the line).
const Word* LineStart(const std::vector<Word>& words) {
    const Word* start = FindWord(words, kLineStart);
    return start && start->data.find('?') != std::string_view::npos ? start : nullptr;
}

}  // namespace

std::vector<LevellingLine> ListGsiLines(LineReader& lines, std::string* problem) {
    std::vector<LevellingLine> found;
    std::vector<bool> withReadings;
    std::string line;
    // A block that cannot be read is passed over here: reading the line that holds it says
    // what is wrong with it, and the other lines stay readable.
    const auto note = [&](const std::string& why) {
        if (problem && problem->empty()) *problem = why;
    };
    const auto open = [&](size_t lineNumber, size_t at, std::string method) {
        if (!found.empty()) found.back().spans.back().end = at;
        LevellingLine next;
        next.line = lineNumber;
        next.method = std::move(method);
        next.spans.push_back({at, at, lineNumber});
        found.push_back(std::move(next));
        withReadings.push_back(false);
    };
    while (lines.Next(line)) {
        std::vector<Word> words;
        try {
            words = Words(line, lines.LineNumber(), lines.LastLineEnded());
        } catch (const Stop& stop) {
            note(stop.reason);
            if (found.empty()) open(1, 0, "BF");
            withReadings.back() = true;  // listed, so that reading it says what is wrong
            continue;
        }
        if (const Word* start = LineStart(words)) {
            std::string method = "?";
            try {
                method = MethodName(MethodOf(*start, lines.LineNumber()));
            } catch (const Stop& stop) {
                note(stop.reason);
            }
            open(lines.LineNumber(), lines.LineStart(), method);
        }
        bool reading = false;
        for (const Word& word : words) reading = reading || IsReading(word.index);
        // Readings before the first line start are a line of their own, of the BF method.
        if (found.empty()) {
            if (!reading && !HasWord(words, kHeight)) continue;
            open(1, 0, "BF");
        }
        LevellingLine& run = found.back();
        withReadings.back() = withReadings.back() || reading;
        if (const Word* name = FindWord(words, kLineName)) {
            std::string text(LeftTrimmed(name->data));
            if (!text.empty()) run.name = text;
        }
        const Word* id = FindWord(words, kPointId);
        if (id && run.firstPoint.empty() && (reading || HasWord(words, kHeight))) {
            run.firstPoint = PointId(*id);
        }
        if (HasWord(words, kBacksight1)) ++run.setUps;
        if (id && (HasWord(words, kForesight1) || HasWord(words, kForesight2))) {
            run.lastPoint = PointId(*id);
        }
    }
    if (!found.empty()) found.back().spans.back().end = lines.NextLineStart();
    if (lines.Failed()) {
        note("the field book could not be read to its end");
        return {};
    }
    // A line with no readings (a start abandoned at once) is not listed.
    std::vector<LevellingLine> listed;
    for (size_t i = 0; i < found.size(); ++i) {
        if (!withReadings[i]) continue;
        listed.push_back(std::move(found[i]));
        listed.back().number = static_cast<int>(listed.size());
    }
    return listed;
}

namespace parts {

RowCounter ReadGsiLines(LineReader& lines, grid::Grid& sheet, core::RunState& run,
                        std::vector<ReadWarning>& warnings) {
    RunReader reader(sheet, run, warnings);
    bool read = false;
    std::string line;
    while (lines.Next(line)) {
        const std::vector<Word> words = Words(line, lines.LineNumber(), lines.LastLineEnded());
        if (const Word* start = LineStart(words)) {
            if (read) break;  // the next levelling line begins: this one is read
            reader.SetMethod(MethodOf(*start, lines.LineNumber()));
            continue;
        }
        for (const Word& word : words) {
            read = read || IsReading(word.index) || word.index == kHeight;
        }
        reader.Block(words, lines.LineNumber());
    }
    return reader.Finish();
}

}  // namespace parts

}  // namespace rendle::readers
