// libFuzzer target: one read command of a field-book format over arbitrary bytes, through the
// benchmark window and the reduction. The format comes from the build (RENDLE_FUZZ_FORMAT).
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"

namespace {

class FuzzWindowing : public rendle::core::Windowing {
  public:
    void ShowMessage(std::string_view, std::string_view, rendle::core::MessageIcon) override {}
    void SetMousePointer(rendle::core::MousePointer) override {}
    void CloseMainWindow() override {}
    std::string ShowOpenFileDialog(std::string_view, std::string_view) override { return {}; }
    std::optional<rendle::core::RLBoxes> ShowFormRL(const rendle::core::RLBoxes& boxes) override {
        return boxes;
    }
    void SaveAsDialog(std::string_view, rendle::core::FileSpec&) override {}
    void PrintSheet(const rendle::grid::Grid&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    rendle::grid::Grid sheet;
    rendle::core::SetUpLevelSheet(sheet);
    rendle::core::RunState run;
    FuzzWindowing windowing;
    rendle::readers::RunReadCommand(rendle::readers::FieldBookFormat::RENDLE_FUZZ_FORMAT, in, sheet,
                                    run, windowing);
    // Every cell the read and the reduction left must be displayable.
    for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
        for (int32_t c = 1; c <= sheet.LastUsedCol(); ++c) (void)sheet.DisplayText(r, c);
    }
    return 0;
}
