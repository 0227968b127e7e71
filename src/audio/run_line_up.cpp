#include "audio/run_line_up.h"

#include <algorithm>

namespace morvane {

int64_t RunLatenessUsec(int64_t nowUsec, const std::optional<CaptureMark>& last, bool mayLead) {
    if (!last || nowUsec - last->returnedUsec > RunLineUp::kReferenceAgeUsec) return 0;
    const int64_t late = std::clamp<int64_t>(nowUsec - last->endUsec, -RunLineUp::kMaxUsec, RunLineUp::kMaxUsec);
    if (late < RunLineUp::kToleranceUsec && (!mayLead || late > -RunLineUp::kToleranceUsec)) return 0;
    return late;
}

}  // namespace morvane
