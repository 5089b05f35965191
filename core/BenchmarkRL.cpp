#include "core/BenchmarkRL.h"

namespace rendle::core {

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

}  // namespace rendle::core
