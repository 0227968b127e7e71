#include "engine/splice_line.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace morvane {

void CSpliceLine::Start(const WAVEFORMATEX& format, uint32_t bytesPerBuffer, uint32_t ringBuffers) {
    m_bytes = bytesPerBuffer;
    m_ringBuffers = std::max<uint32_t>(ringBuffers, 1);
    m_ring.assign(static_cast<size_t>(m_bytes) * m_ringBuffers, 0);
    m_channels = std::max<uint16_t>(format.nChannels, 1);
    // Fades are worked out on 16-bit samples, the only format the program
    // opens; any other is spliced hard.
    m_fades = format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16;
    const uint32_t frames = m_fades ? m_bytes / (2u * m_channels) : 0;
    m_fadeFrames = std::min(FadeFrames(format.nSamplesPerSec), frames);
    m_captured = 0;
    m_running = false;
    m_composed = 0;
    m_lastSequence = -1;
    m_silentEdge = false;
}

void CSpliceLine::Stop() {
    m_running = false;
    m_ring.clear();
    m_ring.shrink_to_fit();
}

void CSpliceLine::Capture(const char* data) {
    if (m_ring.empty()) return;
    std::memcpy(&m_ring[(m_captured % m_ringBuffers) * m_bytes], data, m_bytes);
    ++m_captured;
    if (!m_running && m_captured >= m_target) Begin();
}

// While filling, a delay shorter than what is in already starts the output
// with the next capture: only there is the delay a whole number of buffers.
void CSpliceLine::SetDelay(uint32_t count) { m_target = std::max<uint32_t>(count, 1); }

void CSpliceLine::Begin() {
    m_running = true;
    m_startCaptured = m_captured;
    m_composed = 0;
    m_delay = m_target;
    m_lastSequence = static_cast<int64_t>(m_captured) - m_delay - 1;
    m_silentEdge = false;
}

bool CSpliceLine::BlockDue() const {
    if (!m_running) return false;
    const uint32_t lead = std::min({kLeadBuffers, m_delay, m_target});
    // Slots heard by now, as capture counts time: one per buffer captured.
    const uint64_t heard = m_captured - m_startCaptured;
    return m_composed < heard + lead;
}

const char* CSpliceLine::Sequence(int64_t s) const {
    const auto captured = static_cast<int64_t>(m_captured);
    if (s < 0 || s >= captured || s < captured - static_cast<int64_t>(m_ringBuffers)) return nullptr;
    return &m_ring[static_cast<size_t>(s % m_ringBuffers) * m_bytes];
}

void CSpliceLine::Compose(char* out) {
    const int64_t slot = static_cast<int64_t>(m_startCaptured + m_composed);
    ++m_composed;
    bool fadeOut = false;
    if (m_target != m_delay) {
        if (m_silentEdge) {
            // Nothing is sounding at the splice yet: aim anew.
            m_delay = m_target;
        } else {
            // This block still runs at the old delay and ends the sound.
            fadeOut = true;
        }
    }
    const int64_t s = slot - m_delay;
    const char* source = s > m_lastSequence ? Sequence(s) : nullptr;
    if (fadeOut) m_delay = m_target;
    if (source == nullptr) {
        // Already heard (a longer delay) or not to be had: silence.
        if (out != nullptr) std::memset(out, 0, m_bytes);
        m_silentEdge = true;
        return;
    }
    if (out != nullptr) {
        std::memcpy(out, source, m_bytes);
        if (m_silentEdge) Fade(out, true);
        if (fadeOut) Fade(out, false);
    }
    m_lastSequence = s;
    m_silentEdge = fadeOut;
}

// A raised cosine over the block's first or last fade frames.
void CSpliceLine::Fade(char* block, bool in) const {
    if (!m_fades || m_fadeFrames == 0) return;
    const uint32_t frames = m_bytes / (2u * m_channels);
    const uint32_t first = in ? 0 : frames - m_fadeFrames;
    for (uint32_t i = 0; i < m_fadeFrames; ++i) {
        const double x = (static_cast<double>(in ? i : m_fadeFrames - 1 - i) + 0.5) / m_fadeFrames;
        const double gain = 0.5 - 0.5 * std::cos(std::numbers::pi * x);
        for (uint16_t c = 0; c < m_channels; ++c) {
            char* p = block + (static_cast<size_t>(first + i) * m_channels + c) * 2;
            int16_t v;
            std::memcpy(&v, p, 2);
            v = static_cast<int16_t>(std::lround(v * gain));
            std::memcpy(p, &v, 2);
        }
    }
}

}  // namespace morvane
