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

namespace morvane {

class CClockFollower {
public:
    // The most the playback rate is moved, and how fast.
    static constexpr double kMaxCorrection = 1000e-6;
    static constexpr double kMaxStepPerSecond = 50e-6;
    // Readings are reduced to one per bucket (its earliest origin: a reading
    // may come late, never early); lines are fitted over the last kWindow,
    // the devices' rates over kRateWindow: their readings may step by tens
    // of ms for seconds at a time (a pipe's fill), which only a long line
    // rides out, while the delay's error must be seen soon.
    static constexpr double kBucketSeconds = 0.5;
    static constexpr double kWindowSeconds = 40.0;
    static constexpr double kRateWindowSeconds = 180.0;
    static constexpr double kMinSpanSeconds = 8.0;
    // Drift below this, or anything seen over less than kSkewSpanSeconds,
    // may be noise of the readings; so may an error below kEngageError.
    static constexpr double kEngageSkew = 25e-6;
    static constexpr double kSkewSpanSeconds = 20.0;
    static constexpr double kEngageError = 0.003;
    // A run's first seconds of playback readings are left out, and so are a
    // capture stream's: their latency is still settling, and a capture
    // stream's first readings may predate the backlog its device had waiting.
    static constexpr double kRunSettleSeconds = 5.0;
    // How fast an error of the delay is worked off, and the most that adds.
    static constexpr double kErrorSeconds = 8.0;
    static constexpr double kMaxErrorCorrection = 300e-6;

    explicit CClockFollower(double frameRate) : m_rate(frameRate) {}

    // A new run: the delay it keeps is the one it has at its first readings.
    // What is known of the clocks and the factor in use stay.
    void Restart();
    // Capture played no part for a while (a new capture stream): forget it.
    void ForgetCapture() {
        m_capture.clear();
        m_captureRate.clear();
        m_captureStart.reset();
        m_reference.reset();
        m_firstApart.reset();
        m_firstFactor.reset();
    }

    // `framesWritten`: what capture has handed over by `t`.
    void AddCapture(double t, double origin, double framesWritten);
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
        double mid;    // the readings' mean time
        double mean;   // and their mean origin
    };
    static void Add(std::deque<Point>& series, double t, double origin, double window = kWindowSeconds);
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
    // The rates come from the frames alone: a device's reported latency
    // steps now and then (a pipe's fill), which would tilt a fitted line.
    std::deque<Point> m_capture;      // capture's origin
    std::deque<Point> m_captureRate;  // t less its frames' duration
    std::deque<Point> m_device;  // the same for playback's own frames
    std::deque<Point> m_heard;   // playback's origin in the frames it was given
    std::deque<Point> m_apart;   // that, less capture's origin: the delay
    std::optional<double> m_reference;  // the delay kept
    std::optional<Point> m_firstApart;  // the run's first line of it, at its middle
    std::optional<double> m_firstFactor;  // the factor in use then
};

}  // namespace morvane
