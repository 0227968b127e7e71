#include "audio/voice_base.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

namespace morvane {
namespace {
std::atomic<WaveDiagnosticSink> g_sink{nullptr};
}

void SetWaveDiagnosticSink(WaveDiagnosticSink sink) { g_sink = sink; }

CVoiceBase::CVoiceBase(IWaveApi& api) : m_api(api) {
    m_format.wFormatTag = WAVE_FORMAT_PCM;
    m_format.nChannels = 1;
    m_format.nSamplesPerSec = 8000;
    m_format.nAvgBytesPerSec = 8000;
    m_format.nBlockAlign = 1;
    m_format.wBitsPerSample = 8;
    m_format.cbSize = 0;
}

CVoiceBase::~CVoiceBase() = default;  // the block table frees itself

void CVoiceBase::SetFormat(uint32_t samplesPerSec, uint16_t bitsPerSample, uint16_t channels) {
    m_format.wFormatTag = WAVE_FORMAT_PCM;
    m_format.cbSize = 0;
    m_format.nChannels = channels;
    m_format.nSamplesPerSec = samplesPerSec;
    m_format.wBitsPerSample = bitsPerSample;
    m_format.nBlockAlign = static_cast<uint16_t>(
        static_cast<float>(channels * bitsPerSample) * 0.125f);
    m_format.nAvgBytesPerSec =
        static_cast<uint32_t>(channels) * bitsPerSample * samplesPerSec / 8u;
}

uint32_t CVoiceBase::BufferLength(float seconds) const {
    const uint32_t perSecondBits = static_cast<uint32_t>(m_format.nChannels) *
                                   m_format.wBitsPerSample * m_format.nSamplesPerSec;
    // Single precision on purpose: 0.1 s must come out as exactly 17 640 bytes.
    const float bytes = static_cast<float>(perSecondBits) * seconds * 0.125f;
    if (!(bytes > 0.0f)) return 0;
    if (bytes >= 4294967296.0f) return UINT32_MAX;
    return static_cast<uint32_t>(bytes);
}

int CVoiceBase::CopyBuffer(uint32_t index, const char* source, float seconds) {
    std::memcpy(m_blocks[index].get(), source, BufferLength(seconds));
    return 1;
}

int CVoiceBase::Check(MMRESULT result) {
    m_result = result;
    if (result == MMSYSERR_NOERROR) return 1;
    ReportError(result);
    return 0;
}

void CVoiceBase::ReportError(MMRESULT code) {
    char text[256] = {};
    m_api.waveOutGetErrorTextA(code, text, sizeof text);
    char line[300];
    std::snprintf(line, sizeof line, "%s line: %d\n", text, 466);
    m_lastReport = line;
    if (WaveDiagnosticSink sink = g_sink.load()) sink(line);
}

bool CVoiceBase::AllocateBuffer(uint32_t index, float seconds) {
    FreeBuffer(index);
    const uint32_t length = BufferLength(seconds);
    OwnedBlock block(new (kBlockAlignment, std::nothrow) char[length == 0 ? 1 : length]);
    if (!block) {
        // No device call is made; the failure is still reported as one.
        Check(MMSYSERR_NOMEM);
        return false;
    }
    std::memset(block.get(), 0, length);
    WAVEHDR& h = m_headers[index];
    h.lpData = block.get();
    h.dwBufferLength = length;
    h.dwBytesRecorded = 0;
    h.dwUser = index;
    h.dwFlags = 0;
    h.lpNext = nullptr;
    h.reserved = 0;
    m_blocks[index] = std::move(block);
    return true;
}

void CVoiceBase::FreeBuffer(uint32_t index) { m_blocks[index].reset(); }

}  // namespace morvane
