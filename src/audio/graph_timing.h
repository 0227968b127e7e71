#pragma once
// Where a stream's samples stand in time, from a processing graph's own
// figures for one cycle (a graph that runs every stream in cycles of its
// driver's clock and reports, per stream, when the cycle began, its rate and
// position, and how far the stream is from its device).
//
// Two ways to place a sample:
// - in time on the monotonic clock (nanoseconds): comparable between
//   streams on different drivers; used to line a playback run up against
//   capture;
// - on the stream's own driver's sample clock ("position", in graph ticks):
//   exact within one stream over hours, whatever the driver's clock does
//   against the monotonic one; used to keep a run on its time line.

#include <cstdint>

namespace morvane {

struct GraphTime {
    int64_t nowNsec = 0;   // monotonic time the cycle began
    uint32_t rateNum = 1;  // one tick is rateNum / rateDenom seconds
    uint32_t rateDenom = 48000;
    uint64_t ticks = 0;    // the driver's position at nowNsec
    int64_t delay = 0;     // ticks between the stream and its device, either way
    uint64_t queuedBytes = 0;     // in the stream's queue, not yet taken by the graph (or by us)
    uint64_t bufferedFrames = 0;  // in its resampler, in the stream's frames
};

struct StreamFormat {
    uint32_t rate;        // the stream's frames per second
    uint32_t frameBytes;  // bytes per frame
};

// Playback: the first frame written in this cycle (after what is queued) is
// heard then.
int64_t PlaybackHeardNsec(const GraphTime& t, const StreamFormat& f);
// The same, as a position on the driver's clock, in ticks.
double PlaybackHeardTicks(const GraphTime& t, const StreamFormat& f);
// Capture: the frame just past the last of the `frames` handed over in this
// cycle was captured then (what is still queued was captured after). A
// device's data handed over in a cycle was captured before it began, the
// device's delay earlier; a monitor's is what its sink plays from the
// cycle's start on.
int64_t CaptureEndNsec(const GraphTime& t, const StreamFormat& f, uint64_t frames, bool monitor);

// A number of the stream's frames as nanoseconds, and ticks as frames.
int64_t FramesToNsec(double frames, uint32_t rate);
double TicksToFrames(double ticks, const GraphTime& t, uint32_t rate);

}  // namespace morvane
