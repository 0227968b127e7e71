#pragma once
// Keeps the delay from drifting when capture and playback run on different
// clocks (two sound cards: 20-200 ppm apart, some seconds an hour).
//
// It is given timing readings of both devices against one clock (seconds on
// any steady time line): for capture, when its stream's first frame was
// heard by that reading (an "origin": it moves as the device's clock runs
// fast or slow); for playback, when its stream is heard and how many of its
// frames it has read. From these it estimates the two devices' rates and the
// delay's drift, and answers the playback rate factor that holds the delay:
// 1 means as it is; 1.0002 has playback read 0.02 % more frames per second
// (the platform resamples). The factor changes only as fast as a listener
// cannot hear, stays within kMaxCorrection, and stays exactly 1 while no
// drift beyond the readings' noise shows (one clock: nothing is resampled).

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace morvane {

class CClockFollower {
public:
    // The most the playback rate is moved, and how fast.
    static constexpr double kMaxCorrection = 1000e-6;
    static constexpr double kMaxStepPerSecond = 100e-6;
    // Readings are reduced to one per bucket, the mean of its middle ones: a
    // device hands its data over in blocks, so a reading is off by up to a
    // block depending on when in one it was taken. The platform takes its
    // readings at random moments, so that a bucket's mean sits at a block's
    // middle however the two devices' blocks line up; readings in step with
    // one would all land at one point of it for minutes. The devices' rates
    // are fitted over kRateWindow.
    static constexpr double kBucketSeconds = 2.0;
    static constexpr double kRateWindowSeconds = 180.0;
    static constexpr double kMinSpanSeconds = 8.0;
    // A bucket this far off the line through those before it, and the next
    // one as far, is a jump; one alone is left out.
    static constexpr double kJumpSeconds = 0.003;
    // Drift below this, or anything seen over less than kSkewSpanSeconds,
    // may be noise of the readings; so may an error below kEngageError.
    static constexpr double kEngageSkew = 25e-6;
    static constexpr double kSkewSpanSeconds = 8.0;
    static constexpr double kEngageError = 0.003;
    // A run's first seconds of playback readings are left out, and so are a
    // capture stream's: their latency is still settling, and a capture
    // stream's first readings may predate the backlog its device had waiting.
    static constexpr double kRunSettleSeconds = 3.0;
    // How fast an error of the delay is worked off, and the most that adds;
    // the error is seen over the last kErrorWindow.
    static constexpr double kErrorSeconds = 10.0;
    static constexpr double kErrorWindowSeconds = 10.0;
    // The delay a run keeps is the one its readings show over this long from
    // its start: not longer, or an error in the rates would add up in it.
    static constexpr double kReferenceSeconds = 30.0;
    static constexpr double kMaxErrorCorrection = 500e-6;

    explicit CClockFollower(double frameRate) : m_rate(frameRate) {}

    // A new run: the delay it keeps is the one it has at its first readings.
    // What is known of the clocks and the factor in use stay.
    void Restart();
    // Capture played no part for a while (a new capture stream): forget it.
    void ForgetCapture() {
        m_capture.Clear();
        m_captureStart.reset();
        m_reference.reset();
        m_start = {};
    }

    void AddCapture(double t, double origin);
    // `heardDelay`: what playback has read is heard this much after `t`.
    void AddPlayback(double t, double heardDelay, double framesRead);

    // The factor to use from `t` on; call after readings. It is a whole
    // number of frames per second apart from 1, as the platform takes it.
    double Update(double t);
    double Factor() const { return m_applied; }
    bool Engaged() const { return m_engaged; }
    // The last estimates, for reports: capture's rate against playback's,
    // less 1, and how far the delay is off (seconds, positive: too long).
    double Skew() const { return m_skew; }
    double DelayError() const { return m_error; }

private:
    struct Point {
        double t;
        double origin;
    };
    struct Line {
        double at;     // origin at the time asked for
        double slope;  // its change per second
        double span;   // seconds of readings it rests on
    };
    template <class It>
    static Point Mean(It begin, It end);
    // Readings of one origin: a point per bucket, and the bucket still open.
    // A series that `steps` takes a lasting jump of its origin (a device that
    // ran dry and went on later) as a new level: its earlier points are moved
    // to it, so that the jump does not tilt the rate fitted through them.
    struct Series {
        Series(double w, bool s) : window(w), steps(s) {}
        void Add(double t, double origin);
        void Clear() {
            points.clear();
            open.clear();
            jump.reset();
        }
        double window;
        bool steps;
        std::deque<Point> points;
        std::vector<Point> open;
        std::optional<double> jump;  // how far the last bucket was off the line
    };
    static std::optional<Line> Fit(const std::deque<Point>& series, double t);

    double m_rate;
    double m_factor = 1.0;   // what the control wants
    double m_applied = 1.0;  // that, in whole frames per second
    bool m_engaged = false;
    double m_skew = 0;
    double m_error = 0;
    double m_lastUpdate = 0;
    bool m_updated = false;
    // Playback in the device's own frames: what it read at factor 1.
    std::optional<double> m_lastFramesRead;
    std::optional<double> m_runStart;      // the run's first playback reading
    std::optional<double> m_captureStart;  // capture's first reading
    double m_deviceFrames = 0;
    Series m_capture{kRateWindowSeconds, true};  // capture's origin
    Series m_device{kRateWindowSeconds, true};   // playback's, in its own frames
    Series m_heard{kErrorWindowSeconds, false};  // playback's, in the frames it was given
    std::deque<Point> m_apart;                   // that, less capture's: the delay
    std::optional<double> m_reference;  // the delay kept
    // Sums over the readings of the delay in the run's first kReference: when
    // they were taken, what they read, and what the factor had moved the
    // delay by then.
    struct Sums {
        double n = 0, t = 0, apart = 0, corrected = 0;
    };
    Sums m_start;
    double m_corrected = 0;  // seconds the factor took off the delay this run
};

}  // namespace morvane
