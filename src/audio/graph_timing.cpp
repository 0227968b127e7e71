#include "audio/graph_timing.h"

#include <cmath>

namespace morvane {
namespace {

double TickNsec(const GraphTime& t) {
    return t.rateDenom == 0 ? 0.0 : 1e9 * t.rateNum / static_cast<double>(t.rateDenom);
}

// What the stream holds between us and the graph, in its own frames.
double HeldFrames(const GraphTime& t, const StreamFormat& f) {
    return static_cast<double>(t.queuedBytes) / (f.frameBytes == 0 ? 1 : f.frameBytes) +
           static_cast<double>(t.bufferedFrames);
}

}  // namespace

int64_t FramesToNsec(double frames, uint32_t rate) {
    return rate == 0 ? 0 : std::llround(frames * 1e9 / rate);
}

double TicksToFrames(double ticks, const GraphTime& t, uint32_t rate) {
    return ticks * TickNsec(t) * rate / 1e9;
}

int64_t PlaybackHeardNsec(const GraphTime& t, const StreamFormat& f) {
    return t.nowNsec + std::llround(static_cast<double>(t.delay) * TickNsec(t)) + FramesToNsec(HeldFrames(t, f), f.rate);
}

double PlaybackHeardTicks(const GraphTime& t, const StreamFormat& f) {
    const double tick = TickNsec(t);
    const double held = tick == 0 ? 0.0 : static_cast<double>(FramesToNsec(HeldFrames(t, f), f.rate)) / tick;
    return static_cast<double>(t.ticks) + static_cast<double>(t.delay) + held;
}

int64_t CaptureEndNsec(const GraphTime& t, const StreamFormat& f, uint64_t frames, bool monitor) {
    const int64_t held = FramesToNsec(HeldFrames(t, f), f.rate);
    const int64_t delay = std::llround(static_cast<double>(t.delay) * TickNsec(t));
    if (monitor) return t.nowNsec + delay + FramesToNsec(static_cast<double>(frames), f.rate) - held;
    return t.nowNsec - delay - held;
}

}  // namespace morvane
