#include "readers/LineDecoder.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <stdexcept>

#include "grid/Utf8.h"

namespace rendle::readers {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

/// Unicode code points of the bytes 0x80 to 0x9F in Windows-1252.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

/// True when every ASCII byte, taken alone, is that character in the encoding of `cd`, so that
/// line ends and field positions can be found in the bytes before they are decoded. Not so for
/// UTF-16 and UTF-32 (a byte is half a character), ISO-2022-JP (escape sequences switch the
/// meaning of the bytes after them) or EBCDIC.
bool AsciiBytesStandAlone(iconv_t cd) {
    constexpr auto kFailed = static_cast<size_t>(-1);
    bool alone = true;
    for (int c = 0; c < 0x80 && alone; ++c) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // the initial state
        char in = static_cast<char>(c);
        std::array<char, 16> out{};
        char* inAt = &in;
        size_t inLeft = 1;
        char* outAt = out.data();
        size_t outLeft = out.size();
        alone = iconv(cd, &inAt, &inLeft, &outAt, &outLeft) != kFailed &&
                iconv(cd, nullptr, nullptr, &outAt, &outLeft) != kFailed &&
                outAt == out.data() + 1 && out[0] == in;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return alone;
}

}  // namespace

std::string Windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kWindows1252High[c - 0x80] : char32_t{c});
    }
    return out;
}

/// A conversion descriptor of iconv to UTF-8, closed with the decoder.
struct LineDecoder::Iconv {
    explicit Iconv(iconv_t descriptor) : cd(descriptor) {}
    ~Iconv() { iconv_close(cd); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    iconv_t cd;
};

LineDecoder::LineDecoder() = default;

LineDecoder::LineDecoder(const std::string& encoding) : encoding_(encoding) {
    if (encoding.empty()) return;
    const iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    // (iconv_t)-1 is iconv_open's documented failure value.
    if (cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
        throw std::invalid_argument("the encoding " + grid::ValidUtf8(encoding) + " is not known");
    }
    iconv_ = std::make_unique<Iconv>(cd);
    if (!AsciiBytesStandAlone(cd)) {
        const std::string name = grid::ValidUtf8(encoding);
        throw std::invalid_argument(
            "the encoding " + name +
            " is not read: its bytes are not ASCII where the field book's line ends and fields "
            "are; convert the field book first (iconv -f " +
            name + " -t UTF-8)");
    }
}

LineDecoder LineDecoder::Copy() const {
    return LineDecoder(encoding_);
}

LineDecoder::~LineDecoder() = default;
LineDecoder::LineDecoder(LineDecoder&&) noexcept = default;
LineDecoder& LineDecoder::operator=(LineDecoder&&) noexcept = default;

void LineDecoder::Decode(std::string& line) {
    if (!iconv_) {
        if (grid::IsAscii(line) || grid::IsValidUtf8(line)) return;
        line = Windows1252ToUtf8(line);
        return;
    }
    if (grid::IsAscii(line)) return;
    iconv(iconv_->cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char buffer[4096];
    char* in = line.data();
    size_t inLeft = line.size();
    while (inLeft > 0) {
        char* to = buffer;
        size_t toLeft = sizeof buffer;
        const size_t done = iconv(iconv_->cd, &in, &inLeft, &to, &toLeft);
        out.append(buffer, static_cast<size_t>(to - buffer));
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            // A byte that starts no character of the encoding, or a line cut in a character.
            out += kReplacement;
            ++in;
            --inLeft;
            iconv(iconv_->cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    line = std::move(out);
}

}  // namespace rendle::readers
