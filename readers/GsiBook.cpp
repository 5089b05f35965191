#include "readers/GsiBook.h"

#include <array>
#include <cmath>
#include <optional>
#include <utility>

#include "grid/Utf8.h"
#include "readers/FieldBookLine.h"
#include "readers/SetUpBuilder.h"
#include "readers/SheetLayout.h"

namespace rendle::readers {

namespace {

using parts::kCheckDataFile;
using parts::Stop;

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
constexpr int kRunningStationDifference = 572;

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

/// Whether `text`, shorter than a word's index, information and sign, is how one begins.
bool WordStartBegins(std::string_view text) {
    if (text.size() >= 7) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!Digit(text[i]) && (i < 2 || text[i] != '.')) return false;
    }
    return true;
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
        if (!lastLineEnded && WordStartBegins(line.substr(at))) {
            throw Stop{std::string(kCheckDataFile),
                       parts::CutOffReason(grid::Utf8Characters(line), "a word's index"),
                       lineNumber};
        }
        throw Stop{std::string(kCheckDataFile),
                   "the word at position " +
                       std::to_string(grid::Utf8Characters(line.substr(0, at)) + 1) +
                       " has no word index and sign",
                   lineNumber};
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
                           "the word at position " +
                               std::to_string(grid::Utf8Characters(line.substr(0, following)) + 1) +
                               " has no sign in position 7",
                           lineNumber};
            }
            // The blanks up to `following` were all looked at: a long run is passed once.
            next = following - 1;
        }
        if (next >= line.size()) next = line.size();
        std::string_view data = line.substr(dataBegin, dataEnd - dataBegin);
        lastDataLength = data.size();
        data = data.substr(0, data.find_last_not_of(' ') + 1);
        word.data = data;
        words.push_back(word);
        at = next;
    }
    // A last line without a line end whose last word stops short of its field (8 or 16
    // characters), or that ends in the start of a word not yet whole ("32.."), was cut off
    // while the book was copied: a number may have lost digits, a block its words.
    const size_t field = wide ? 16 : 8;
    if (!lastLineEnded && !words.empty()) {
        if (lastDataLength < field) {
            throw Stop{std::string(kCheckDataFile),
                       parts::CutOffReason(grid::Utf8Characters(line), "a word")};
        }
        const size_t tail = line.find_last_of(' ') + 1;
        if (tail > static_cast<size_t>(wide ? 1 : 0) && tail < line.size() &&
            WordStartBegins(line.substr(tail))) {
            throw Stop{std::string(kCheckDataFile),
                       parts::CutOffReason(grid::Utf8Characters(line), "a word's index")};
        }
    }
    return words;
}

/// The last digit of a measurement word, in metres: units 0 mm, 6 a tenth, 8 a hundredth.
double UnitMetres(char unit) {
    return unit == '0' ? 0.001 : unit == '6' ? 0.0001 : 0.00001;
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
            throw Stop{"The field book gives its values in feet (GSI units digit " +
                           std::string(1, word.unit) +
                           "); only metres are read. Please Check Your Data File ",
                       std::string(what) + " is in feet", lineNumber};
        default:
            throw Stop{std::string(kCheckDataFile),
                       std::string(what) + " has the units digit \"" + std::string(1, word.unit) +
                           "\", which is no length unit",
                       lineNumber};
    }
    const std::string_view digits = LeftTrimmed(word.data);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        throw Stop{std::string(kCheckDataFile),
                   std::string(what) + " is no number (" + std::string(digits) + ")", lineNumber};
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
    // The method is the number the data ends with ("?......1"; "?.....10" is method 10).
    std::string_view data = word.data;
    data = data.substr(0, data.find_last_not_of(' ') + 1);
    size_t first = data.size();
    while (first > 0 && Digit(data[first - 1])) --first;
    std::string_view number = data.substr(first);
    const std::string_view written =
        number.empty() ? data.substr(data.empty() ? 0 : data.size() - 1) : number;
    while (number.size() > 1 && number.front() == '0') number.remove_prefix(1);
    if (number.size() == 1 && number[0] >= '1' && number[0] <= '4') return number[0] - '0';
    const std::string shown(written);
    throw Stop{"The levelling method " + shown + " of the line starting on line " +
                   std::to_string(lineNumber) +
                   " is not known; 1 BF, 2 BFFB, 3 aBF and 4 aBFFB are read. Please Check Your "
                   "Data File ",
               "the levelling method " + shown + " is not known"};
}

/// The reading words of a block.
bool IsReading(int index) {
    return index == kBacksight1 || index == kBacksight2 || index == kForesight1 ||
           index == kForesight2 || index == kIntermediate;
}

/// Reads the blocks of one levelling line into its run.
class RunReader {
  public:
    RunReader(core::LevelRun& run, ReadWarnings& warnings) : run_(run), builder_(run, warnings) {}

    void SetMethod(int method) {
        builder_.SetReadings(method == 2 || method == 4 ? 2 : 1);
        run_.instrument.method = MethodName(method);
    }

    void Block(const std::vector<Word>& words, size_t lineNumber) {
        std::string id;
        std::optional<double> distance;
        std::optional<double> height;
        double heightUnit = 0;
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
                heightUnit = UnitMetres(word.unit);
                run_.instrument.Resolution(heightUnit);
            } else if (IsReading(word.index)) {
                reading = word.index;
                value = Metres(word, lineNumber, "the staff reading");
            } else if (word.index == kStationDifference) {
                builder_.StoredDifference(Metres(word, lineNumber, "the station difference"),
                                          lineNumber, UnitMetres(word.unit));
                closing = true;
            } else if (word.index == kRunningStationDifference) {
                // Compared when it reads as a length; the reduction does not need it.
                try {
                    builder_.StoredRunningDifference(
                        Metres(word, lineNumber, "the running station difference"), lineNumber,
                        UnitMetres(word.unit));
                } catch (const Stop&) {
                }
                closing = true;
            } else if (word.index >= 573 && word.index <= 574) {
                closing = true;
            }
        }
        if (reading != 0) {
            parts::Sight sight{id, value, distance.value_or(0), std::nullopt, lineNumber};
            if (reading == kIntermediate) {
                builder_.Intermediate(std::move(sight));
            } else {
                const bool back = reading == kBacksight1 || reading == kBacksight2;
                builder_.Take(back, reading == kBacksight2 || reading == kForesight2 ? 1 : 0,
                              std::move(sight));
            }
            lastWasIntermediate_ = reading == kIntermediate;
            if (height) builder_.Height(*height, reading == kIntermediate, heightUnit);
        } else if (height) {
            if (!started_) {
                // The first height of a line is its starting height, entered or carried over.
                run_.startRL = *height;
                run_.instrument.startZ = *height;
                run_.instrument.startUnit = heightUnit;
            } else {
                builder_.Height(*height, !closing && lastWasIntermediate_, heightUnit);
            }
        }
        started_ = started_ || height.has_value() || reading != 0;
    }

    /// Closes the set-up the line ended inside; `line` is the line being read.
    void Finish(size_t line) { builder_.Finish(line); }

  private:
    core::LevelRun& run_;
    parts::SetUpBuilder builder_;
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
    std::vector<bool> readTwice;  // a line without its start block: 335 or 336 words
    const auto open = [&](size_t lineNumber, size_t at, std::string method) {
        if (!found.empty()) found.back().spans.back().end = at;
        LevellingLine next;
        next.line = lineNumber;
        next.method = std::move(method);
        next.spans.push_back({at, at, lineNumber});
        found.push_back(std::move(next));
        withReadings.push_back(false);
        readTwice.push_back(false);
    };
    while (lines.Next(line)) {
        std::vector<Word> words;
        try {
            words = Words(line, lines.LineNumber(), lines.LastLineEnded());
        } catch (const Stop& stop) {
            note(stop.reason);
            if (found.empty()) open(1, 0, {});
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
            open(1, 0, {});
        }
        LevellingLine& run = found.back();
        withReadings.back() = withReadings.back() || reading;
        if (HasWord(words, kBacksight2) || HasWord(words, kForesight2)) readTwice.back() = true;
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
    // Readings before any start block are of no method the book names: a line with second
    // readings is read as BFFB, readings paired by their words, whatever their order.
    for (size_t i = 0; i < found.size(); ++i) {
        if (found[i].method.empty()) found[i].method = readTwice[i] ? "BFFB" : "BF";
    }
    return parts::Listed(std::move(found), withReadings);
}

namespace {

/// A last block without a line end whose words are the first words of a kind of block the line
/// wrote before, and no whole kind of its own, stops short of its words ("11 32" where every
/// earlier block went on to its reading): the book was cut off after a word's end.
void CheckBlockWhole(const std::vector<Word>& words, const LineReader& lines,
                     std::vector<std::vector<int>>& kinds) {
    const auto sameStart = [&](const std::vector<int>& kind, size_t count) {
        if (kind.size() < count) return false;
        for (size_t i = 0; i < count; ++i) {
            if (kind[i] != words[i].index) return false;
        }
        return true;
    };
    if (lines.LastLineEnded()) {
        for (const std::vector<int>& kind : kinds) {
            if (kind.size() == words.size() && sameStart(kind, words.size())) return;
        }
        std::vector<int> kind;
        kind.reserve(words.size());
        for (const Word& word : words) kind.push_back(word.index);
        kinds.push_back(std::move(kind));
        return;
    }
    bool shorter = false;
    for (const std::vector<int>& kind : kinds) {
        if (!sameStart(kind, words.size())) continue;
        if (kind.size() == words.size()) return;
        shorter = true;
    }
    if (shorter) {
        throw Stop{std::string(kCheckDataFile),
                   "the last line has no line end and its block stops after word " +
                       std::to_string(words.size()) +
                       ", where the line's blocks of that kind go on: the field book looks "
                       "cut off"};
    }
}

}  // namespace

namespace parts {

void ReadGsiLines(LineReader& lines, core::LevelRun& run, ReadWarnings& warnings, int readings) {
    RunReader reader(run, warnings);
    CapacityWatch capacity;
    run.capacityInDataRows = true;
    reader.SetMethod(readings == 2 ? 2 : 1);
    bool read = false;
    std::string line;
    // The word indices of each kind of block the line has written, to tell a last block that
    // stops short of its words.
    std::vector<std::vector<int>> kinds;
    while (lines.Next(line)) {
        const std::vector<Word> words = Words(line, lines.LineNumber(), lines.LastLineEnded());
        CheckBlockWhole(words, lines, kinds);
        if (const Word* start = LineStart(words)) {
            if (read) break;  // the next levelling line begins: this one is read
            reader.SetMethod(MethodOf(*start, lines.LineNumber()));
            continue;
        }
        for (const Word& word : words) {
            read = read || IsReading(word.index) || word.index == kHeight;
        }
        reader.Block(words, lines.LineNumber());
        if (capacity.Passed(run)) {  // the layout refuses the run here
            run.pastCapacity = true;
            break;
        }
    }
    reader.Finish(lines.LineNumber());
}

}  // namespace parts

}  // namespace rendle::readers
