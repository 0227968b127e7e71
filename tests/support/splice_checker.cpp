#include "splice_checker.h"

#include <cstdlib>

#include "sim_wave_api.h"

namespace morvane::sim {

void SpliceChecker::NewRun() {
    lag = 0;
    m_inSplice = false;
    m_faded.clear();
    m_samples.clear();
}

void SpliceChecker::operator()(uint64_t start, const int16_t* data, uint32_t frames, uint16_t channels) {
    if (data == nullptr) {
        underrunFrames += frames;
        return;
    }
    for (uint32_t f = 0; f < frames; ++f) Frame(start + f, data + static_cast<size_t>(f) * channels, channels);
}

bool SpliceChecker::Exact(uint64_t t, const int16_t* x, uint16_t channels, uint64_t l) const {
    if (l == 0 || l > t) return false;
    for (uint16_t c = 0; c < channels; ++c)
        if (x[c] != NoiseSample(t - l, c)) return false;
    return true;
}

uint64_t SpliceChecker::FindLag(uint64_t t, const int16_t* x, uint16_t channels) const {
    for (uint64_t l = bufferFrames; l <= maxLag && l <= t; l += bufferFrames)
        if (Exact(t, x, channels, l)) return l;
    return 0;
}

void SpliceChecker::Bad(uint64_t t) {
    ++badFrames;
    if (firstBad == UINT64_MAX) firstBad = t;
}

void SpliceChecker::Frame(uint64_t t, const int16_t* x, uint16_t channels) {
    if (lag == 0) {
        // A run's first sound sets its lag.
        lag = FindLag(t, x, channels);
        if (lag == 0) return Bad(t);
        if (firstSound == UINT64_MAX) firstSound = t;
        ++exactFrames;
        return;
    }
    if (!m_inSplice) {
        if (Exact(t, x, channels, lag)) {
            ++exactFrames;
            return;
        }
        m_inSplice = true;
        m_current = {t, 0, lag, 0, 0, 0, 0};
        // The fade-in's last frames round to the input itself; the splice
        // goes on to where the fade really ends.
        if (!splices.empty() && splices.back().toLag == lag && t - splices.back().end < fadeWindow) {
            m_current = splices.back();
            splices.pop_back();
        }
    }
    bool silent = true;
    for (uint16_t c = 0; c < channels; ++c) silent = silent && x[c] == 0;
    if (silent) {
        ++m_current.silent;
        return;
    }
    // Noise samples this far apart matching by chance is as good as
    // impossible: the first exact frame ends the splice.
    if (const uint64_t to = FindLag(t, x, channels); to != 0) {
        m_current.end = t;
        m_current.toLag = to;
        // Every sounding frame of the splice is a faded copy of the input
        // at the old or the new lag: never louder, never of the other sign.
        for (size_t i = 0; i < m_faded.size(); ++i) {
            const int16_t* y = &m_samples[i * channels];
            const bool old = Faded(m_faded[i], y, channels, m_current.fromLag);
            const bool next = Faded(m_faded[i], y, channels, to);
            if (!old && !next) Bad(m_faded[i]);
            if (old && !next) ++m_current.fadedOut;
            if (next && !old) ++m_current.fadedIn;
        }
        m_faded.clear();
        m_samples.clear();
        splices.push_back(m_current);
        m_inSplice = false;
        lag = to;
        ++exactFrames;
        return;
    }
    if (m_samples.size() > 2 * 44100 * channels) return Bad(t);  // no end in sight
    m_faded.push_back(t);
    m_samples.insert(m_samples.end(), x, x + channels);
}

bool SpliceChecker::Faded(uint64_t t, const int16_t* x, uint16_t channels, uint64_t l) const {
    if (l == 0 || l > t) return false;
    for (uint16_t c = 0; c < channels; ++c) {
        const int in = NoiseSample(t - l, c);
        const int out = x[c];
        if (std::abs(out) > std::abs(in) || (out != 0 && (out < 0) != (in < 0))) return false;
    }
    return true;
}

}  // namespace morvane::sim
