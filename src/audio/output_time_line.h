#pragma once
// Keeps a playback run on its time line when the platform's output falls
// behind it. A system that does not keep up can hold up the platform's own
// feeder long enough for the device to play silence in between (Wine pads
// a stream that ran dry with silence): everything after it is heard that
// much later, and the delay would grow with every such gap, for good.
//
// Readings say how much of the run's data the device has played by when.
// Against the clock, what is played lags by a constant while the run keeps
// its time line; a gap steps that lag up. The lag's lower quartile over each
// kWindowUsec is compared with the last window's: a step of kToleranceUsec
// or more, seen again in the next window, is left out of the sound still to
// be written, once it is heard; smaller changes are followed (the device's
// clock may drift against ours: that is not a gap). The quartile, as
// readings of a position that moves in chunks lag most just before it moves
// and least just after, and some run ahead of it now and then (Wine's, by up
// to 10 ms); the window is long enough for readings at every phase of the
// chunks.

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace morvane {

// Told once per program run on the platforms that can tell it.
extern const char kOutputGapReport[];

class COutputTimeLine {
public:
    static constexpr int64_t kWindowUsec = 2000000;
    static constexpr size_t kMinReadings = 8;
    static constexpr int64_t kToleranceUsec = 8000;
    static constexpr int64_t kMaxLeaveOutUsec = 1000000;

    COutputTimeLine(uint32_t bytesPerSec, uint32_t blockAlign);

    // A run starts now (its first write).
    void Start(int64_t nowUsec);
    // `played` bytes of what was written of the run have been played by
    // now (readings before the device has played anything say nothing);
    // `pending` bytes are still to be left out of what comes. Answers how
    // many more bytes to leave out of what is written next.
    uint64_t Reading(int64_t nowUsec, uint64_t played, uint64_t pending);
    // `bytes` were left out where `written` bytes of the run had been
    // written (the write's start).
    void LeftOut(uint64_t written, uint64_t bytes);

private:
    struct Cut {
        uint64_t at;
        uint64_t bytes;
    };
    int64_t Usec(uint64_t bytes) const;

    uint32_t m_bytesPerSec;
    uint32_t m_blockAlign;
    int64_t m_startUsec = 0;
    std::deque<Cut> m_cuts;   // left out but not yet played past
    uint64_t m_cutPlayed = 0;  // left out and played past
    std::optional<int64_t> m_reference;
    bool m_stepSeen = false;  // the last window stepped up
    std::vector<int64_t> m_window;  // its lags
    int64_t m_windowStartUsec = 0;
};

}  // namespace morvane
