#include "audio/clock_follower.h"

#include <algorithm>
#include <cmath>

namespace morvane {

void CClockFollower::Restart() {
    m_device.clear();
    m_heard.clear();
    m_apart.clear();
    m_lastFramesRead.reset();
    m_runStart.reset();
    m_deviceFrames = 0;
    m_reference.reset();
    m_firstApart.reset();
    m_firstFactor.reset();
    m_error = 0;
}

// One point per bucket, the earliest origin: a reading that was held up
// places the stream late, none places it early.
void CClockFollower::Add(std::deque<Point>& series, double t, double origin, double window) {
    const auto bucket = [](double x) { return std::floor(x / kBucketSeconds); };
    if (!series.empty() && bucket(series.back().t) == bucket(t)) {
        if (origin < series.back().origin) series.back() = {t, origin};
    } else {
        series.push_back({t, origin});
    }
    while (!series.empty() && series.front().t < t - window) series.pop_front();
}

std::optional<CClockFollower::Line> CClockFollower::Fit(const std::deque<Point>& series, double t) {
    if (series.size() < 4 || series.back().t - series.front().t < kMinSpanSeconds) return std::nullopt;
    double mt = 0, mo = 0;
    for (const Point& p : series) {
        mt += p.t;
        mo += p.origin;
    }
    mt /= static_cast<double>(series.size());
    mo /= static_cast<double>(series.size());
    double stt = 0, sto = 0;
    for (const Point& p : series) {
        stt += (p.t - mt) * (p.t - mt);
        sto += (p.t - mt) * (p.origin - mo);
    }
    const double slope = sto / stt;
    return Line{mo + slope * (t - mt), slope, series.back().t - series.front().t, mt, mo};
}

void CClockFollower::AddCapture(double t, double origin, double framesWritten) {
    if (!m_captureStart) m_captureStart = t;
    if (t < *m_captureStart + kRunSettleSeconds) return;
    Add(m_capture, t, origin);
    Add(m_captureRate, t, t - framesWritten / m_rate, kRateWindowSeconds);
}

void CClockFollower::AddPlayback(double t, double heardDelay, double framesRead) {
    if (!m_runStart) m_runStart = t;
    if (t < *m_runStart + kRunSettleSeconds) return;
    // Frames read at a factor f took 1/f of the device's own frames.
    m_deviceFrames = m_lastFramesRead ? m_deviceFrames + (framesRead - *m_lastFramesRead) / m_applied : framesRead;
    m_lastFramesRead = framesRead;
    Add(m_heard, t, t + heardDelay - framesRead / m_rate);
    Add(m_device, t, t - m_deviceFrames / m_rate, kRateWindowSeconds);
}

double CClockFollower::Update(double t) {
    if (m_updated && t - m_lastUpdate < 1.0) return m_applied;
    // A pause in the readings allows no bigger step.
    const double elapsed = m_updated ? std::min(t - m_lastUpdate, 1.0) : 1.0;
    m_updated = true;
    m_lastUpdate = t;
    if (m_capture.empty() || m_heard.empty()) return m_applied;

    // An origin moves back as its device's clock runs fast: the two slopes
    // apart are capture's rate against playback's.
    const std::optional<Line> capture = Fit(m_capture, t);
    const std::optional<Line> captureRate = Fit(m_captureRate, t);
    const std::optional<Line> device = Fit(m_device, t);
    // The delay is how far the origin of what is heard lies after capture's.
    const Point& heard = m_heard.back();
    const double captureThen = capture ? capture->at + capture->slope * (heard.t - t) : m_capture.back().origin;
    Add(m_apart, heard.t, heard.origin - captureThen);
    const std::optional<Line> apart = Fit(m_apart, t);
    if (!apart) return m_applied;
    if (!m_firstApart) m_firstApart = Point{apart->mid, apart->mean};
    if (!captureRate || !device) return m_applied;
    m_skew = device->slope - captureRate->slope;
    const bool seen = std::min({captureRate->span, device->span, apart->span}) >= kSkewSpanSeconds;
    // The delay the run started with: the first line's mean, carried back to
    // the run's start by the drift the rates show. By its own slope, a few
    // seconds of bursty readings could put it tens of ms off. The rates are
    // known better as their readings grow, so it is carried back again at
    // each update, by the drift at the factor in use then.
    if (!m_reference && !seen) return m_applied;
    if (!m_firstFactor) m_firstFactor = m_applied;
    const double drift = m_skew - (*m_firstFactor - 1);  // the delay's change per second then
    m_reference = m_firstApart->origin - drift * (m_firstApart->t - m_runStart.value_or(m_firstApart->t));
    m_error = apart->at - *m_reference;

    if (!m_engaged && seen && (std::abs(m_skew) >= kEngageSkew || std::abs(m_error) >= kEngageError))
        m_engaged = true;
    if (!m_engaged) return m_applied;
    // Read as fast as capture fills, and a little faster while the delay is
    // too long (slower while too short).
    const double correction = std::clamp(m_error / kErrorSeconds, -kMaxErrorCorrection, kMaxErrorCorrection);
    const double target = std::clamp(1.0 + m_skew + correction, 1.0 - kMaxCorrection, 1.0 + kMaxCorrection);
    const double step = kMaxStepPerSecond * elapsed;
    m_factor += std::clamp(target - m_factor, -step, step);
    m_applied = std::round(m_factor * m_rate) / m_rate;
    return m_applied;
}

}  // namespace morvane
