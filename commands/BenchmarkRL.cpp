#include "commands/BenchmarkRL.h"

#include "commands/ReduceCommand.h"

namespace rendle::commands {

using core::RLText;
using core::RunState;

RLBoxes PrefillRLBoxes(const RunState& run) {
    return {RLText(run.EnteredStartRL), RLText(run.EndRL)};
}

void ConfirmFormRL(RunState& run, const RLBoxes& boxes) {
    run.EnteredStartRL = boxes.start;
    run.StartRL = boxes.start;
    run.EndRL = boxes.end;
}

void ConfirmFormChangeRL(RunState& run, const RLBoxes& boxes) {
    run.StartRL = boxes.start;
    run.EndRL = boxes.end;
}

core::ReductionResult LevelParametersOK(grid::Grid& sheet, RunState& run, const RLBoxes& boxes,
                                        Windowing& windowing) {
    ConfirmFormChangeRL(run, boxes);
    return RunReduction(sheet, run, windowing);
}

}  // namespace rendle::commands
