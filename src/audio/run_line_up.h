#pragma once
// When a playback run starts, against capture.
//
// The delay line writes a run as a captured buffer comes back, meaning the
// run's first sample to be heard where that buffer's last sample was
// captured. Capture's buffers come back late (the platform hands data over in
// blocks, the system may be slow), so a run started at once would be late by
// as much, and the delay long by it. Every wave layer asks this one rule how
// late a run that starts now is, and leaves that much out of the run's start
// (or leads it in with silence when capture was early, as a monitor's data
// can be, where the layer may say so).

#include <cstdint>
#include <optional>

namespace morvane {

struct CaptureMark {
    int64_t endUsec;       // when the last captured buffer's last sample was captured
    int64_t returnedUsec;  // when that buffer came back
};

struct RunLineUp {
    // A reference older than this says nothing about the run (capture
    // stopped, or stalled): the run starts as it is.
    static constexpr int64_t kReferenceAgeUsec = 1000000;
    // Never more than this is left out of, or led into, a run's start.
    static constexpr int64_t kMaxUsec = 1000000;
    // Smaller errors are left alone.
    static constexpr int64_t kToleranceUsec = 500;
};

// How late (positive) or early (negative) a run that starts at `nowUsec`
// is against the last capture mark, all on one steady clock. `mayLead`: the
// layer can lead a run in with silence; without it an early run starts as it
// is (a layer whose capture time line is a bound from one side only).
int64_t RunLatenessUsec(int64_t nowUsec, const std::optional<CaptureMark>& last, bool mayLead);

}  // namespace morvane
