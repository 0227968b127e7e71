#include "audio/clock_follower.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>

namespace morvane {

void CClockFollower::Restart() {
    m_device.Clear();
    m_heard.Clear();
    m_apart.clear();
    m_lastFramesRead.reset();
    m_runStart.reset();
    m_deviceFrames = 0;
    m_reference.reset();
    m_start = {};
    m_corrected = 0;
    m_error = 0;
}

template <class It>
CClockFollower::Point CClockFollower::Mean(It begin, It end) {
    Point m{0, 0};
    for (It p = begin; p != end; ++p) {
        m.t += p->t;
        m.origin += p->origin;
    }
    const auto n = static_cast<double>(std::distance(begin, end));
    return {m.t / n, m.origin / n};
}

// A bucket closes when a reading of the next one comes: its point is at its
// readings' mean time and the mean of their middle origins (the outer fifth
// on either side may be readings held up on their way).
void CClockFollower::Series::Add(double t, double origin) {
    const auto bucket = [](double x) { return std::floor(x / kBucketSeconds); };
    if (!open.empty() && bucket(open.back().t) != bucket(t)) {
        std::sort(open.begin(), open.end(), [](const Point& x, const Point& y) { return x.origin < y.origin; });
        const auto outer = static_cast<std::ptrdiff_t>(open.size() / 5);
        const Point point = Mean(open.begin() + outer, open.end() - outer);
        open.clear();
        const std::optional<Line> line = steps ? Fit(points, point.t) : std::nullopt;
        const double off = line ? point.origin - line->at : 0;
        if (std::abs(off) < kJumpSeconds) {
            jump.reset();
            points.push_back(point);
        } else if (jump && std::abs(off - *jump) < kJumpSeconds / 2) {
            for (Point& p : points) p.origin += off;
            points.push_back(point);
            jump.reset();
        } else {
            jump = off;
        }
    }
    open.push_back({t, origin});
    while (!points.empty() && points.front().t < t - window) points.pop_front();
}

std::optional<CClockFollower::Line> CClockFollower::Fit(const std::deque<Point>& series, double t) {
    if (series.size() < 4 || series.back().t - series.front().t < kMinSpanSeconds) return std::nullopt;
    const Point m = Mean(series.begin(), series.end());
    double stt = 0, sto = 0;
    for (const Point& p : series) {
        stt += (p.t - m.t) * (p.t - m.t);
        sto += (p.t - m.t) * (p.origin - m.origin);
    }
    const double slope = sto / stt;
    return Line{m.origin + slope * (t - m.t), slope, series.back().t - series.front().t};
}

void CClockFollower::AddCapture(double t, double origin) {
    if (!m_captureStart) m_captureStart = t;
    if (t < *m_captureStart + kRunSettleSeconds) return;
    m_capture.Add(t, origin);
}

void CClockFollower::AddPlayback(double t, double heardDelay, double framesRead) {
    if (!m_runStart) m_runStart = t;
    if (t < *m_runStart + kRunSettleSeconds) return;
    // Frames read at a factor f took 1/f of the device's own frames.
    m_deviceFrames = m_lastFramesRead ? m_deviceFrames + (framesRead - *m_lastFramesRead) / m_applied : framesRead;
    m_lastFramesRead = framesRead;
    m_heard.Add(t, t + heardDelay - framesRead / m_rate);
    m_device.Add(t, t + heardDelay - m_deviceFrames / m_rate);
}

double CClockFollower::Update(double t) {
    if (m_updated && t - m_lastUpdate < 1.0) return m_applied;
    // A pause in the readings allows no bigger step.
    const double elapsed = m_updated ? std::min(t - m_lastUpdate, 1.0) : 1.0;
    if (m_updated) m_corrected += (m_applied - 1) * (t - m_lastUpdate);
    m_updated = true;
    m_lastUpdate = t;
    // An origin moves back as its device's clock runs fast: the two slopes
    // apart are capture's rate against playback's.
    const std::optional<Line> capture = Fit(m_capture.points, t);
    const std::optional<Line> device = Fit(m_device.points, t);
    if (m_capture.points.empty() || m_heard.points.empty() || !m_runStart) return m_applied;
    // The delay is how far the origin of what is heard lies after capture's.
    const Point& heard = m_heard.points.back();
    if (m_apart.empty() || heard.t > m_apart.back().t) {
        const double captureThen =
            capture ? capture->at + capture->slope * (heard.t - t) : m_capture.points.back().origin;
        m_apart.push_back({heard.t, heard.origin - captureThen});
        while (m_apart.front().t < heard.t - kErrorWindowSeconds) m_apart.pop_front();
        if (heard.t < *m_runStart + kReferenceSeconds) {
            m_start.n += 1;
            m_start.t += heard.t;
            m_start.apart += heard.origin - captureThen;
            m_start.corrected += m_corrected - (m_applied - 1) * (t - heard.t);
        }
    }
    if (!capture || !device) return m_applied;
    m_skew = device->slope - capture->slope;
    if (std::min(capture->span, device->span) < kSkewSpanSeconds) return m_applied;
    // The delay the run started with: each of its first readings of the delay
    // less what the clocks and the factor have changed it by since the start.
    // The rates are known better as their readings grow, so this is worked
    // out again at each update.
    const double n = m_start.n;
    m_reference = (m_start.apart - m_skew * (m_start.t - n * *m_runStart) + m_start.corrected) / n;
    // How far it is off now: its mean over the last few buckets, carried on
    // to now by the drift the factor in use leaves. A line fitted over a
    // longer span would see a correction only long after it was made, and the
    // control would swing around the delay it keeps.
    const Point recent = Mean(m_apart.begin(), m_apart.end());
    m_error = recent.origin + (m_skew - (m_applied - 1)) * (t - recent.t) - *m_reference;

    if (!m_engaged && (std::abs(m_skew) >= kEngageSkew || std::abs(m_error) >= kEngageError)) m_engaged = true;
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
