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

/// One word of a block, found by its position in the line.
struct Word {
    int index = 0;          ///< the word index (WI)
    std::string_view info;  ///< positions 3 to 6 (the block number of WI 11 and 41)
    char unit = ' ';        ///< position 6: the units of a measurement
    bool negative = false;  ///< position 7
    std::string_view data;  ///< positions 8 to the word's end
};

/// Word indices of three digits (331, 571, 271 ...) begin with these two.
bool ThreeDigitFamily(int first2) {
    return first2 == 27 || first2 == 33 || first2 == 39 || first2 == 50 || first2 == 51 ||
           first2 == 57;
}

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

/// The words of a block. A GSI-16 block starts with "*" and has 24-character words; a GSI-8
/// block 16-character ones; each word ends with a blank.
std::vector<Word> Words(std::string_view line, size_t lineNumber, bool lastLineEnded) {
    const bool wide = line.starts_with('*');
    const size_t first = wide ? 2 : 1;  // 1-based position of the first word
    const size_t length = wide ? 24 : 16;
    const size_t characters = CharacterCount(line);
    const auto bad = [&](size_t at, const std::string& why) {
        return Stop{std::string(kCheckDataFile), "line " + std::to_string(lineNumber) +
                                                     ", word at position " + std::to_string(at) +
                                                     ": " + why};
    };
    if (!lastLineEnded && characters >= first && (characters - first + 2) % length > 1) {
        throw Stop{std::string(kCheckDataFile),
                   "the last line has no line end and stops inside a word: the field book looks "
                   "cut off"};
    }
    std::vector<Word> words;
    for (size_t at = first; at <= characters; at += length) {
        const std::string_view text = Field(line, at, length - 1);
        if (text.find_first_not_of(' ') == std::string_view::npos) continue;
        if (text.size() < 8 || !Digit(text[0]) || !Digit(text[1])) {
            throw bad(at, "no word index");
        }
        Word word;
        const int first2 = (text[0] - '0') * 10 + (text[1] - '0');
        word.index =
            ThreeDigitFamily(first2) && Digit(text[2]) ? first2 * 10 + (text[2] - '0') : first2;
        word.info = text.substr(2, 4);
        word.unit = text[5];
        if (text[6] != '+' && text[6] != '-') throw bad(at, "no sign in position 7");
        word.negative = text[6] == '-';
        word.data = text.substr(7);
        words.push_back(word);
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
    return line.size() >= 15 && Digit(line[0]) && Digit(line[1]) &&
           (line[6] == '+' || line[6] == '-') && (line.starts_with("11") || line.starts_with("41"));
}

std::vector<GsiRun> ListGsiRuns(LineReader& lines, std::string* problem) {
    std::vector<GsiRun> runs;
    std::string line;
    // A block that cannot be read is passed over here: the list names every line of the book,
    // and reading the line that holds the block says what is wrong with it.
    const auto note = [&](const std::string& why) {
        if (problem && problem->empty()) *problem = why;
    };
    while (lines.Next(line)) {
        std::vector<Word> words;
        try {
            words = Words(line, lines.LineNumber(), lines.LastLineEnded());
        } catch (const Stop& stop) {
            note(stop.reason);
            continue;
        }
        if (const Word* start = FindWord(words, kLineStart)) {
            runs.push_back({});
            runs.back().number = static_cast<int>(runs.size());
            runs.back().line = lines.LineNumber();
            try {
                runs.back().method = MethodName(MethodOf(*start, lines.LineNumber()));
            } catch (const Stop& stop) {
                runs.back().method = "?";
                note(stop.reason);
            }
        }
        bool reading = false;
        for (const Word& word : words) reading = reading || IsReading(word.index);
        if (runs.empty() && (reading || HasWord(words, kHeight))) {
            runs.push_back({1, {}, "BF", 0, {}, {}, lines.LineNumber()});
        }
        if (runs.empty()) continue;
        GsiRun& run = runs.back();
        if (const Word* name = FindWord(words, kLineName)) {
            std::string text(LeftTrimmed(name->data));
            text.erase(text.find_last_not_of(' ') + 1);
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
    if (lines.Failed()) {
        note("the field book could not be read to its end");
        return {};
    }
    return runs;
}

namespace parts {

RowCounter ReadGsiLines(LineReader& lines, int runNumber, grid::Grid& sheet, core::RunState& run,
                        std::vector<ReadWarning>& warnings) {
    RunReader reader(sheet, run, warnings);
    int runs = 0;
    bool inRun = false;
    std::string line;
    while (lines.Next(line)) {
        const std::vector<Word> words = Words(line, lines.LineNumber(), lines.LastLineEnded());
        if (const Word* start = FindWord(words, kLineStart)) {
            ++runs;
            if (inRun) break;  // the next line begins: this run is read
            inRun = runs == runNumber;
            if (inRun) reader.SetMethod(MethodOf(*start, lines.LineNumber()));
            continue;
        }
        if (runs == 0 && !inRun && runNumber == 1 && !words.empty()) {
            // A book without a line-start block is one run of the BF method.
            bool levelling = false;
            for (const Word& word : words) {
                levelling = levelling || IsReading(word.index) || word.index == kHeight;
            }
            if (levelling) {
                runs = 1;
                inRun = true;
            }
        }
        if (inRun) reader.Block(words, lines.LineNumber());
    }
    if (!inRun && !lines.Failed() && !lines.LineTooLong()) {
        throw Stop{"The field book holds " + std::to_string(runs) + " levelling line" +
                       (runs == 1 ? "" : "s") + "; line " + std::to_string(runNumber) +
                       " is not among them. Please Check Your Data File ",
                   "run " + std::to_string(runNumber) + " is not in the field book, which holds " +
                       std::to_string(runs)};
    }
    return reader.Finish();
}

}  // namespace parts

}  // namespace rendle::readers
