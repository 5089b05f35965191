// The run-wide values that live beside the level sheet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace rendle::core {

/// A benchmark RL as the run holds it: empty, a number, or text as the user typed it.
using RLValue = std::variant<std::monostate, double, std::string>;

/// What an instrument recorded beside its readings (Zeiss M5 books), kept by the read for the
/// checks of the run.
struct InstrumentRecord {
    struct StationDifference {
        int setUp = 0;     ///< 1-based
        double value = 0;  ///< (B1 − F1) − (B2 − F2), B1 and F1 the first readings taken, in m
    };
    struct Height {
        int32_t row = 0;  ///< the data row, once the reduction has deleted the marker rows
        double z = 0;     ///< the instrument's height of the point of that row
        double unit = 0;  ///< the last digit z is stored to, m; 0: `resolution`
    };
    std::vector<StationDifference> stationDifferences;  ///< set-ups read twice
    std::optional<double> startZ;                       ///< the starting point's height
    double startUnit = 0;  ///< the last digit startZ is stored to, m; 0: `resolution`
    std::vector<Height> heights;
    /// The last digit the book records its heights to, in m (0.00001 for a GSI book of units
    /// 8, 0.001 for units 0; an M5 book by the decimals of its Z): a stored height cannot be
    /// truer than that.
    std::optional<double> resolution;
    /// The levelling method the book names ("BF", "BFFB", "aBF" ...); empty for a book that
    /// names none (SDR books: one reading a sight).
    std::string method;
    /// Notes the resolution of one stored value. A book keeps the finest: a value written with
    /// fewer digits (as a hand-edited one may be) does not loosen the check.
    void Resolution(double metres) {
        if (!resolution || metres < *resolution) resolution = metres;
    }
};

struct RunState {
    int16_t FirstDataRow = 0;     ///< 0 until a field book has been read, then 6
    int16_t LastDataRow = 0;      ///< last data row once the marker rows are deleted
    int16_t StationCount = 0;     ///< set-ups of the run
    RLValue EnteredStartRL;       ///< starting RL as the field book gave it or as last confirmed
    RLValue StartRL;              ///< starting RL the next reduction uses
    RLValue EndRL;                ///< ending RL
    InstrumentRecord instrument;  ///< from the last read (empty for SDR books)
};

/// The RL as a number for computing: empty gives 0, a number itself, text a decimal number
/// (blanks around it allowed, full stop as decimal point, or one decimal comma and no full
/// stop); any other text, the empty text included, gives nothing.
std::optional<double> RLToNumber(const RLValue& value);

/// Reads a decimal number written as text the way a surveyor types an RL: blanks around it,
/// optional sign, digits with an optional full stop, optional exponent (E or D). Nothing for
/// anything else, and for a number too large for a double.
std::optional<double> ParseDecimalText(std::string_view text);

/// A number typed with a decimal comma, as a comma-decimal desktop types it: one comma and no
/// full stop ("1,456" is 1.456, "100,25" is 100.25); nothing for anything else ("1,000.25",
/// "1,2,3"), which stays ambiguous.
std::optional<double> ParseDecimalCommaText(std::string_view text);

/// The RL as the text of a window's box: empty gives "", a number its ordinary decimal text
/// with up to 15 significant digits, text unchanged.
std::string RLText(const RLValue& value);

/// No RL given: empty, or a text of blanks only (a box left empty).
bool IsEmptyRL(const RLValue& value);

}  // namespace rendle::core
