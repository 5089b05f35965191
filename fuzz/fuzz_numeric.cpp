// libFuzzer target: the numeric value of a field and the RL text conversion.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/RunState.h"
#include "grid/NumberFormat.h"
#include "readers/FieldBookLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto value = rendle::readers::NumericValue(text)) {
        if (!std::isfinite(*value)) std::abort();  // too large must fail, not give infinity
        (void)rendle::grid::FormatNumber(*value, "0.0000");
        (void)rendle::grid::FormatNumber(*value, "#,##0.00");
    }
    if (const auto rl = rendle::core::ParseDecimalText(text)) {
        if (!std::isfinite(*rl)) std::abort();
        // The box text of a number must read back to the same number.
        const auto again = rendle::core::ParseDecimalText(rendle::core::RLText(*rl));
        if (!again || (*again != *rl && std::fabs(*again - *rl) > std::fabs(*rl) * 1e-14)) {
            std::abort();
        }
    }
    return 0;
}
