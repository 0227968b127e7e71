// Every libpulse call and callback of the wave layer lives in this file; the
// main loop it runs on is in pulse_loop.cpp.
//
// Locking: the main loop's lock guards all state here. Callbacks run
// on the loop's thread with it held; the public calls take it on the caller's
// thread. A header belongs to the caller unless it is queued; while queued
// only code under the lock touches it, and it is handed back (flags first,
// then the posted message) exactly once.

#include "audio/pulse/pulse_wave_api.h"

#include <pulse/pulseaudio.h>

#include "audio/output_time_line.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <cmath>
#include <cstdio>

namespace morvane {
namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr int kOperationTimeoutMs = 2000;
// A count query while the server is away tries again no sooner than this.
constexpr auto kReconnectInterval = std::chrono::milliseconds(250);
// A timing reading that failed, or found the stream not playing, is asked
// for again after this long.
constexpr auto kTimingRetry = std::chrono::milliseconds(20);
// Played buffers are placed in time from one reading while the stream plays
// on; one this old is taken again (clocks drift, runs stall).
constexpr auto kReadingLifetime = std::chrono::seconds(2);
// While playback follows capture's clock, both streams are read this far
// apart, at random within the range: a device moves its data in blocks, and
// readings taken in step with the other device's blocks would each land at
// the same point of a block for minutes, wherever that is.
constexpr int kFollowReadingMinMs = 20;
constexpr int kFollowReadingMaxMs = 60;
// A playback run is lined up against capture only when a buffer was captured
// this recently; and it never skips more than this of its start.
constexpr auto kCaptureReferenceAge = std::chrono::milliseconds(1000);
constexpr int64_t kMaxCompensationUsec = 1000000;
// What a run sends before its start has been measured, and what error is
// left alone.
// PipeWire starts a stream only once it holds a processing cycle's worth
// (1024 frames by default): send two.
constexpr pa_usec_t kProbeUsec = 50 * PA_USEC_PER_MSEC;
constexpr int64_t kProbeToleranceUsec = 500;
// A run is lined up from a reading once the server has read its start; for
// at most this long. A server that updates its positions once per processing
// cycle but stamps a reading with the time it answers (PipeWire's) places
// every byte late by up to a cycle; a reading taken just after a cycle is
// right, and none is early, so there the earliest placement of several
// readings this far apart wins. Elsewhere readings are exact but for noise,
// which the earliest of several would pick out under load.
constexpr int kLineUpReadingsCycleStamped = 4;
constexpr auto kLineUpSpacing = std::chrono::milliseconds(3);
// Until then the rest of the run waits: no longer than the server would hold.
constexpr auto kLineUpTimeout = std::chrono::milliseconds(250);
// Capture is placed in time the same way: from the last reading, or, where
// positions are of the last cycle, from the earliest placement among the
// readings of the last kCaptureReadingSpan: a burst of kCaptureBurst readings
// kLineUpSpacing apart when capture starts and every kCaptureBurstInterval,
// to catch one just after a cycle, and the library's own readings between.
constexpr int kCaptureBurst = 8;
constexpr auto kCaptureBurstInterval = std::chrono::seconds(5);
constexpr auto kCaptureReadingSpan = std::chrono::seconds(12);
// A write this soon after the stream ran dry with nothing waiting was late
// (a run's end is followed by a refill of 0.1 s at least).
constexpr auto kLateWrite = std::chrono::milliseconds(50);

bool PulseFormatFor(const WAVEFORMATEX& f, pa_sample_spec* pcm) {
    if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
    switch (f.wBitsPerSample) {
        case 8: pcm->format = PA_SAMPLE_U8; break;
        case 16: pcm->format = PA_SAMPLE_S16LE; break;
        case 24: pcm->format = PA_SAMPLE_S24LE; break;
        case 32: pcm->format = PA_SAMPLE_S32LE; break;
        default: return false;
    }
    pcm->rate = f.nSamplesPerSec;
    pcm->channels = static_cast<uint8_t>(f.nChannels);
    if (f.nChannels == 0 || f.nChannels > PA_CHANNELS_MAX) return false;
    if (!pa_sample_spec_valid(pcm)) return false;
    return f.nBlockAlign == pa_frame_size(pcm);
}

// A signed byte count as a signed duration.
int64_t BytesToUsec(int64_t bytes, const pa_sample_spec* pcm) {
    const auto usec = static_cast<int64_t>(pa_bytes_to_usec(static_cast<uint64_t>(std::abs(bytes)), pcm));
    return bytes < 0 ? -usec : usec;
}

// A point of the local clock as seconds, for the clock follower.
double Seconds(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

bool ValidHeader(const WAVEHDR* pwh, uint32_t cbwh) {
    return pwh != nullptr && cbwh >= sizeof(WAVEHDR) &&
           (pwh->lpData != nullptr || pwh->dwBufferLength == 0);
}

}  // namespace

struct CPulseWaveApi::Device {
    CPulseWaveApi* api = nullptr;
    bool capture = false;
    pa_stream* stream = nullptr;
    pa_sample_spec pcm{};
    size_t frame = 1;
    IWaveWindow* window = nullptr;
    // Capture: queued headers, the front one being filled.
    // Playback: written headers not yet wholly handed to the server, the front
    // one partly sent (frontOffset bytes).
    std::deque<WAVEHDR*> queue;
    // Playback: headers wholly handed to the server, waiting to be heard.
    struct Sent {
        WAVEHDR* header;
        uint64_t end;  // our write position just past its last byte
        // When its end is heard, once a reading places it.
        std::optional<Clock::time_point> heardAt;
    };
    // Playback: where the server stood at the last timing reading.
    struct Reading {
        Clock::time_point at;  // when it was taken
        int64_t readPos;       // our write position the server had read then
        int64_t sinkUsec;      // what it read is heard this much later
        bool playing;          // and it went on reading in time
        Clock::time_point HeardAt(uint64_t pos, const pa_sample_spec* pcm) const {
            return at + std::chrono::microseconds(
                            sinkUsec + BytesToUsec(static_cast<int64_t>(pos) - readPos, pcm));
        }
    };
    std::optional<Reading> reading;
    Clock::time_point retryAt{};  // no reading is asked for before then
    std::deque<Sent> sent;
    size_t frontOffset = 0;
    uint64_t written = 0;
    uint64_t skipBytes = 0;  // to leave out of the start of a run
    uint64_t padBytes = 0;   // of silence to lead a run in with
    int64_t lastCompensationUsec = 0;
    // The start of a run is measured once it plays and corrected then; until
    // that only a little of it is sent (probing).
    bool probing = false;
    uint64_t runStart = 0;             // our write position of the run's first byte
    Clock::time_point runTarget;      // when that byte should be heard
    // Written bytes are heard this much later than runTarget and their
    // distance from runStart say: what was skipped (or padded) to keep the
    // run on time, as those bytes are later (earlier) in the source.
    int64_t runShiftUsec = 0;
    // Lining up: readings are being taken to see whether the run's start is
    // heard on time.
    struct LineUp {
        uint64_t from;                    // only bytes written from here on tell
        Clock::time_point until;          // give up then
        std::optional<int64_t> lateUsec;  // the earliest placement so far
        int readings = 0;
    };
    std::optional<LineUp> lineUp;
    // The run's start is so late that its first buffers were left out whole
    // and none of it has been sent yet: what comes next is still that run.
    bool skippedAhead = false;
    // The server ran dry with nothing waiting here, and when.
    bool dry = false;
    Clock::time_point dryAt{};
    pa_operation* timingOp = nullptr;
    bool started = false;  // capture: uncorked by start
    // Capture: when data last came in (or filling began); the front header
    // should be full its missing length after that.
    Clock::time_point lastData{};
    // Capture: when (by our clock) byte 0 of the stream was heard, by
    // reading, with when the reading came; and the readings still to take.
    struct Origin {
        Clock::time_point takenAt;
        Clock::time_point origin;
    };
    std::deque<Origin> origins;
    int burstLeft = 0;
    Clock::time_point nextBurst{};
    bool dead = false;     // the stream failed or the server went away
    std::string clock;  // which clock the device runs on, if known
    // Playback: its rate may follow capture's clock, and what it is now.
    bool variableRate = false;
    uint32_t appliedRate = 0;
    // While it does, when this stream is next read for the follower.
    Clock::time_point followAt{};

    uintptr_t Handle() const { return reinterpret_cast<uintptr_t>(this); }
    void Post(uint32_t msg, WAVEHDR* h) {
        if (window != nullptr) api->Post(window, msg, Handle(), h);
    }
    void Complete(WAVEHDR* h) {
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        Post(capture ? MM_WIM_DATA : MM_WOM_DONE, h);
    }
    // Hands every queued header back, in queue order.
    void ReturnAll() {
        std::deque<Sent> s;
        s.swap(sent);
        std::deque<WAVEHDR*> q;
        q.swap(queue);
        frontOffset = 0;
        skipBytes = 0;
        padBytes = 0;
        probing = false;
        lineUp.reset();
        skippedAhead = false;
        dry = false;
        for (const Sent& x : s) Complete(x.header);
        for (WAVEHDR* h : q) Complete(h);
    }
    void CancelTiming() {
        if (timingOp == nullptr) return;
        pa_operation_cancel(timingOp);
        pa_operation_unref(timingOp);
        timingOp = nullptr;
    }
    bool Ready() const {
        return !dead && stream != nullptr && pa_stream_get_state(stream) == PA_STREAM_READY;
    }
};

// The stream callbacks, on the audio thread with the loop's lock held.
struct DeviceCallbacks {
    using Device = CPulseWaveApi::Device;
    using Clock = std::chrono::steady_clock;

    static void State(pa_stream* s, void* userdata) {
        auto* d = static_cast<Device*>(userdata);
        d->api->m_loop->Signal();
        const pa_stream_state_t st = pa_stream_get_state(s);
        if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED) {
            if (d->capture && d->started && d->api->m_runningCaptures > 0)
                --d->api->m_runningCaptures;
            d->started = false;
            d->dead = true;
            d->ReturnAll();
        }
    }

    // Capture: fill the queued headers strictly in order.
    // A fragment arrives every time the source hands data out: keep the
    // library calls per fragment few (each one is a system call or more).
    static void Read(pa_stream* s, size_t, void* userdata) {
        auto* d = static_cast<Device*>(userdata);
        for (;;) {
            const void* data = nullptr;
            size_t n = 0;
            if (pa_stream_peek(s, &data, &n) < 0 || n == 0) break;
            if (data != nullptr && d->started) {
                Consume(d, static_cast<const char*>(data), n);
                d->lastData = Clock::now();
            }
            pa_stream_drop(s);  // also drops a hole (data null)
        }
    }

    static void Consume(Device* d, const char* data, size_t n) {
        size_t offset = 0;
        while (!d->queue.empty()) {
            WAVEHDR* h = d->queue.front();
            const size_t room = h->dwBufferLength - h->dwBytesRecorded;
            const size_t k = std::min(room, n - offset);
            if (k > 0) std::memcpy(h->lpData + h->dwBytesRecorded, data + offset, k);
            h->dwBytesRecorded += static_cast<uint32_t>(k);
            offset += k;
            if (h->dwBytesRecorded < h->dwBufferLength) break;
            NoteCaptureEnd(d, offset);
            d->api->CheckCaptureAge();
            d->queue.pop_front();
            // What was heard before this was captured goes back first: the
            // receiver may reuse those buffers for it.
            FinishAllHeard(d->api, Clock::now());
            d->Complete(h);
        }
        // Whatever arrives with no header queued is lost, as on the platform.
    }

    // Capture: a timing reading came (the library's own or one we asked
    // for). As it was taken, the server had written up to write_index, and
    // that byte was recorded source_usec earlier, or, from a monitor, is
    // heard sink_usec later; our read position counts in the same bytes.
    static void CaptureReading(pa_stream* s, void* userdata) {
        auto* d = static_cast<Device*>(userdata);
        const pa_timing_info* ti = pa_stream_get_timing_info(s);
        if (!d->started || ti == nullptr || ti->write_index_corrupt) return;
        const int64_t usec = -BytesToUsec(ti->write_index, &d->pcm) + static_cast<int64_t>(ti->sink_usec) -
                             static_cast<int64_t>(ti->source_usec);
        const Clock::time_point now = Clock::now();
        d->origins.push_back({now, TimeOf(ti->timestamp) + std::chrono::microseconds(usec)});
        if (d->api->m_clock)
            d->api->m_clock->AddCapture(Seconds(TimeOf(ti->timestamp)), Seconds(d->origins.back().origin));
        while (d->origins.size() > 1 && now - d->origins.front().takenAt > kCaptureReadingSpan)
            d->origins.pop_front();
    }

    static void CaptureTimingDone(pa_stream*, int, void* userdata) {
        auto* d = static_cast<Device*>(userdata);
        if (d->timingOp != nullptr) {
            pa_operation_unref(d->timingOp);
            d->timingOp = nullptr;
        }
        d->retryAt = Clock::now() + kLineUpSpacing;
    }

    // When the byte `offset` into the fragment being read was heard.
    static void NoteCaptureEnd(Device* d, size_t offset) {
        const pa_timing_info* ti = pa_stream_get_timing_info(d->stream);
        if (!d->origins.empty() && ti != nullptr && !ti->read_index_corrupt) {
            Clock::time_point origin = d->origins.back().origin;
            if (d->api->m_cycleStamped)
                for (const Device::Origin& o : d->origins) origin = std::min(origin, o.origin);
            d->api->m_lastCaptureEnd =
                origin + std::chrono::microseconds(BytesToUsec(ti->read_index + static_cast<int64_t>(offset), &d->pcm));
            return;
        }
        // How old the first byte of this fragment is; a monitor's data can
        // arrive before it is heard, so this may be negative.
        pa_usec_t lat = 0;
        int negative = 0;
        if (pa_stream_get_latency(d->stream, &lat, &negative) != 0) return;
        const int64_t ageUsec = negative ? -static_cast<int64_t>(lat) : static_cast<int64_t>(lat);
        const int64_t endAge = ageUsec - static_cast<int64_t>(pa_bytes_to_usec(offset, &d->pcm));
        d->api->m_lastCaptureEnd = Clock::now() - std::chrono::microseconds(endAge);
    }

    static void Write(pa_stream*, size_t, void* userdata) { Feed(static_cast<Device*>(userdata)); }

    // Playback: hand the server as much of the queued headers as it asks for.
    // topUp: write this much even if the server has not asked for it yet.
    static void Feed(Device* d, size_t topUp = 0) {
        if (!d->Ready()) return;
        size_t room = pa_stream_writable_size(d->stream);
        if (room == static_cast<size_t>(-1)) return;
        room = std::max(room, topUp);
        if (d->probing) {
            const uint64_t limit = d->runStart + pa_usec_to_bytes(kProbeUsec, &d->pcm);
            room = d->written >= limit ? 0 : std::min<size_t>(room, limit - d->written);
        }
        room -= room % d->frame;
        while (d->padBytes > 0 && room > 0 && !d->queue.empty()) {
            const size_t k = static_cast<size_t>(std::min<uint64_t>(d->padBytes, room));
            void* buf = nullptr;
            size_t n = k;
            if (pa_stream_begin_write(d->stream, &buf, &n) < 0 || buf == nullptr) break;
            n = std::min(n, k);
            n -= n % d->frame;
            if (n == 0) {
                pa_stream_cancel_write(d->stream);
                break;
            }
            std::memset(buf, d->pcm.format == PA_SAMPLE_U8 ? 0x80 : 0, n);
            if (pa_stream_write(d->stream, buf, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
            d->padBytes -= n;
            d->written += n;
            room -= n;
        }
        while (!d->queue.empty()) {
            WAVEHDR* h = d->queue.front();
            // A trailing part frame of a header cannot be played; it is dropped.
            const size_t usable = h->dwBufferLength - h->dwBufferLength % d->frame;
            if (d->skipBytes > 0) {
                const bool fromStart = d->frontOffset == 0;
                const size_t k = static_cast<size_t>(
                    std::min<uint64_t>(d->skipBytes, usable - std::min(usable, d->frontOffset)));
                d->frontOffset += k;
                d->skipBytes -= k;
                // A buffer left out whole, with nothing before it still to
                // be heard, goes back at once: the receiver may want it again
                // soon (it reuses a buffer one delay later).
                if (fromStart && d->frontOffset >= usable && d->sent.empty()) {
                    d->queue.pop_front();
                    d->frontOffset = 0;
                    d->skippedAhead = true;
                    d->Complete(h);
                    continue;
                }
            }
            if (d->frontOffset >= usable) {
                d->queue.pop_front();
                d->frontOffset = 0;
                d->sent.push_back({h, d->written, std::nullopt});
                continue;
            }
            if (room == 0) break;
            const size_t k = std::min(room, usable - d->frontOffset);
            if (pa_stream_write(d->stream, h->lpData + d->frontOffset, k, nullptr, 0,
                                PA_SEEK_RELATIVE) < 0)
                break;
            d->frontOffset += k;
            d->written += k;
            d->skippedAhead = false;
            room -= k;
        }
        Place(d, false);
    }

    static void RequestTiming(Device* d) {
        if (d->timingOp == nullptr) d->timingOp = pa_stream_update_timing_info(d->stream, Timing, d);
    }

    // Places sent headers in time from the last reading: those the server had
    // read then exactly, the rest as if it plays on without a gap. all: place
    // every one again, else only those not yet placed.
    static void Place(Device* d, bool all) {
        for (Device::Sent& x : d->sent) {
            if (x.heardAt && !all) continue;
            x.heardAt.reset();
            if (d->reading && (d->reading->playing || static_cast<int64_t>(x.end) <= d->reading->readPos))
                x.heardAt = d->reading->HeardAt(x.end, &d->pcm);
        }
    }

    static void Timing(pa_stream* s, int success, void* userdata) {
        auto* d = static_cast<Device*>(userdata);
        if (d->timingOp != nullptr) {
            pa_operation_unref(d->timingOp);
            d->timingOp = nullptr;
        }
        const Clock::time_point now = Clock::now();
        const pa_timing_info* ti = success ? pa_stream_get_timing_info(s) : nullptr;
        if (ti == nullptr || ti->read_index_corrupt || ti->write_index_corrupt) {
            d->retryAt = now + (d->lineUp ? kLineUpSpacing : kTimingRetry);
            if (d->lineUp && now >= d->lineUp->until) FinishLineUp(d);
            return;
        }
        // The server's write index stands for our write position now; what it
        // had read when it took the reading is that far behind it. Data read
        // is heard one sink latency later. The reading's own time stamp, not
        // the time its answer reached us, is what the positions belong to.
        const int64_t behind = ti->write_index - ti->read_index;
        d->reading = Device::Reading{TimeOf(ti->timestamp),
                                     static_cast<int64_t>(d->written) - std::max<int64_t>(behind, 0),
                                     static_cast<int64_t>(ti->sink_usec), ti->playing != 0};
        if (d->lineUp) TakeLineUpReading(d, now);
        if (!d->lineUp && !d->probing && ti->playing) FollowClocks(d, now);
        Place(d, true);
        // Not playing yet: what it has not read cannot be placed; look again soon.
        if (!d->lineUp && !d->sent.empty() && !d->sent.front().heardAt)
            d->retryAt = now + kTimingRetry;
    }

    // A run's reading: the playback rate follows capture's clock.
    static void FollowClocks(Device* d, Clock::time_point now) {
        CPulseWaveApi* api = d->api;
        if (!d->variableRate || !api->m_clock) return;
        CClockFollower& clock = *api->m_clock;
        clock.AddPlayback(Seconds(d->reading->at), static_cast<double>(d->reading->sinkUsec) / 1e6,
                          static_cast<double>(d->reading->readPos) / static_cast<double>(d->frame));
        const double factor = clock.Update(Seconds(now));
        const auto rate = static_cast<uint32_t>(std::lround(factor * d->pcm.rate));
        if (rate == d->appliedRate) return;
        if (pa_operation* op = pa_stream_update_sample_rate(d->stream, rate, nullptr, nullptr))
            pa_operation_unref(op);
        d->appliedRate = rate;
        if (!api->m_toldClocks) {
            api->m_toldClocks = true;
            std::fprintf(stderr,
                         "Morvane: the input and output run on clocks %.0f ppm apart; playback follows "
                         "the input's to keep the delay.\n",
                         clock.Skew() * 1e6);
        }
    }

    // Starts lining the run up from the bytes written from `from` on.
    static void BeginLineUp(Device* d, uint64_t from) {
        d->lineUp = Device::LineUp{from, Clock::now() + kLineUpTimeout, std::nullopt, 0};
        d->retryAt = Clock::time_point{};
        d->CancelTiming();  // its answer would predate what is to be measured
        RequestTiming(d);
    }

    // A reading while lining up: once the server has read what was written
    // since the line-up began, when the run's first byte is heard by it,
    // against when it should be (a sink that takes new data at once and one
    // that plays out what it holds first differ by its whole latency).
    static void TakeLineUpReading(Device* d, Clock::time_point now) {
        Device::LineUp& l = *d->lineUp;
        if (d->reading->readPos > static_cast<int64_t>(l.from)) {
            const Clock::time_point due = d->runTarget + std::chrono::microseconds(d->runShiftUsec);
            const int64_t late = std::chrono::duration_cast<std::chrono::microseconds>(
                                     d->reading->HeardAt(d->runStart, &d->pcm) - due)
                                     .count();
            l.lateUsec = l.lateUsec ? std::min(*l.lateUsec, late) : late;
            ++l.readings;
        }
        const int wanted = d->api->m_cycleStamped ? kLineUpReadingsCycleStamped : 1;
        if (l.readings < wanted && now < l.until) {
            d->retryAt = now + kLineUpSpacing;
            return;
        }
        FinishLineUp(d);
    }

    static void FinishLineUp(Device* d) {
        const Device::LineUp l = *d->lineUp;
        d->lineUp.reset();
        int64_t late = 0;
        if (l.lateUsec && std::abs(*l.lateUsec) >= kProbeToleranceUsec) {
            late = *l.lateUsec;
            const uint64_t bytes = pa_usec_to_bytes(static_cast<pa_usec_t>(std::abs(late)), &d->pcm);
            (late > 0 ? d->skipBytes : d->padBytes) += bytes;
            d->runShiftUsec += late;
            d->lastCompensationUsec += late;
        }
        if (d->probing) {
            d->probing = false;
            Feed(d);
        }
    }

    // A run starts: `lateUsec` of its first queued byte's time is past
    // already (skipped; a negative figure leads it in with silence). What is
    // sent before the playback side has been measured is kept short.
    static void StartRun(Device* d, int64_t lateUsec, bool probe) {
        const uint64_t bytes = pa_usec_to_bytes(static_cast<pa_usec_t>(std::abs(lateUsec)), &d->pcm);
        d->skipBytes = lateUsec >= 0 ? bytes : 0;
        d->padBytes = lateUsec < 0 ? bytes : 0;
        d->lastCompensationUsec = lateUsec;
        d->runStart = d->written;
        d->runTarget = Clock::now();
        d->runShiftUsec = 0;
        d->skippedAhead = false;
        d->probing = probe;
        if (d->api->m_clock) d->api->m_clock->Restart();
        // The stream ran dry or was flushed since: earlier readings no longer
        // tell where it plays.
        d->reading.reset();
        d->lineUp.reset();
        d->retryAt = Clock::time_point{};
        d->CancelTiming();  // its answer would predate the run
        Feed(d);
        if (d->probing) BeginLineUp(d, d->runStart);
    }

    // The run went on after a gap (the stream ran dry while sound was due):
    // everything after it would be late by the gap, and the server may hold
    // some of it already. Drop what the server holds, hand back what was
    // sent, and start the rest as a run of its own that keeps the old one's
    // time line, so that the delay stays what it was.
    static void Resync(Device* d) {
        const Clock::time_point now = Clock::now();
        // When the front header's first byte was due, on the run's time line
        // (what it had sent goes again from its start): its sent part lies
        // just before our write position, and a skip still to come would
        // have put it earlier, silence still to lead in later.
        const int64_t aheadBytes = static_cast<int64_t>(d->padBytes) - static_cast<int64_t>(d->skipBytes) -
                                   static_cast<int64_t>(d->frontOffset);
        const Clock::time_point due =
            d->runTarget + std::chrono::microseconds(d->runShiftUsec) +
            std::chrono::microseconds(BytesToUsec(static_cast<int64_t>(d->written) - static_cast<int64_t>(d->runStart) +
                                                      aheadBytes,
                                                  &d->pcm));
        if (pa_operation* op = pa_stream_flush(d->stream, nullptr, nullptr)) pa_operation_unref(op);
        d->frontOffset = 0;
        std::deque<Device::Sent> sent;
        sent.swap(d->sent);
        for (const Device::Sent& x : sent) d->Complete(x.header);
        d->api->ReportGap();
        StartRun(d, std::chrono::duration_cast<std::chrono::microseconds>(now - due).count(), true);
    }

    // The server ran dry. With sound still waiting here, that is a gap; with
    // none, the run may have ended, or its next sound comes late (see Queue).
    static void Underflow(pa_stream*, void* userdata) {
        auto* d = static_cast<Device*>(userdata);
        d->reading.reset();
        if (d->queue.empty()) {
            d->dry = true;
            d->dryAt = Clock::now();
        } else if (!d->probing) {  // a run's start may run dry until it is measured
            Resync(d);
        }
    }

    // A time stamp of the server's clock (the wall clock) on our clock.
    static Clock::time_point TimeOf(const timeval& stamp) {
        timeval wall;
        pa_gettimeofday(&wall);
        const Clock::time_point now = Clock::now();
        const int64_t ageUsec = static_cast<int64_t>(pa_timeval_diff(&wall, &stamp)) *
                                (pa_timeval_cmp(&wall, &stamp) >= 0 ? 1 : -1);
        return now - std::chrono::microseconds(ageUsec);
    }

    static void FinishHeard(Device* d, Clock::time_point now) {
        while (!d->sent.empty() && d->sent.front().heardAt && *d->sent.front().heardAt <= now) {
            WAVEHDR* h = d->sent.front().header;
            d->sent.pop_front();
            d->Complete(h);
        }
    }

    static void FinishAllHeard(CPulseWaveApi* api, Clock::time_point now) {
        for (Device* p : api->m_devices)
            if (!p->capture) FinishHeard(p, now);
    }

    // Playback, before the audio thread sleeps: hand back what has been
    // heard, keep a reading at hand, and say when to look again.
    static void PlanPlayback(Device* d, Clock::time_point now, CPulseLoop::Plan* plan) {
        FinishHeard(d, now);
        // The server's requests for more may wait for the next capture
        // wake-up: keep it a target's length ahead at every wake-up instead.
        if (!d->probing && !d->queue.empty() && d->reading && d->reading->playing) {
            const auto ahead = std::chrono::duration_cast<std::chrono::microseconds>(
                d->reading->HeardAt(d->written, &d->pcm) - now);
            const auto target = std::chrono::milliseconds(CPulseWaveApi::kPlaybackTargetMs);
            if (ahead < target)
                Feed(d, pa_usec_to_bytes(static_cast<pa_usec_t>((target - ahead).count()), &d->pcm));
        }
        if (d->lineUp) {
            if (d->timingOp == nullptr) {
                if (now >= d->retryAt)
                    RequestTiming(d);
                else
                    plan->wakeAt = std::min(plan->wakeAt, d->retryAt);
            }
        } else if (!d->sent.empty()) {
            const Device::Sent& front = d->sent.front();
            const bool stale = !d->reading || now - d->reading->at > kReadingLifetime;
            const bool follow = d->variableRate && d->api->m_clock && now >= d->followAt;
            if (d->timingOp == nullptr && now >= d->retryAt && (stale || follow || !front.heardAt)) {
                RequestTiming(d);
                if (follow) d->followAt = d->api->NextFollowReading(now);
            }
            if (d->variableRate && d->api->m_clock) plan->wakeAt = std::min(plan->wakeAt, d->followAt);
            if (front.heardAt)
                plan->wakeAt = std::min(plan->wakeAt,
                                        *front.heardAt + std::chrono::milliseconds(CPulseWaveApi::kPlayedSlackMs));
            else if (d->timingOp == nullptr)
                plan->wakeAt = std::min(plan->wakeAt, d->retryAt);
        }
        // A reading's answer is wanted as soon as it comes.
        if (d->timingOp != nullptr) plan->lookAt = now;
    }

    // Capture: the server's messages can wait until the front header should
    // be full; one that is overdue takes them as they come.
    static void PlanCapture(Device* d, Clock::time_point now, CPulseLoop::Plan* plan) {
        if (!d->started) return;
        if (d->api->m_cycleStamped && d->burstLeft == 0 && now >= d->nextBurst) {
            d->burstLeft = kCaptureBurst;
            d->nextBurst = now + kCaptureBurstInterval;
        }
        if (d->burstLeft > 0 && d->timingOp == nullptr) {
            if (now >= d->retryAt) {
                d->timingOp = pa_stream_update_timing_info(d->stream, CaptureTimingDone, d);
                if (d->timingOp != nullptr) --d->burstLeft;
            } else {
                plan->wakeAt = std::min(plan->wakeAt, d->retryAt);
            }
        }
        if (d->api->m_clock) {
            if (now >= d->followAt && d->timingOp == nullptr) {
                d->timingOp = pa_stream_update_timing_info(d->stream, CaptureTimingDone, d);
                d->followAt = d->api->NextFollowReading(now);
            }
            plan->wakeAt = std::min(plan->wakeAt, d->followAt);
        }
        if (d->timingOp != nullptr) plan->lookAt = now;  // its answer is wanted as it comes
        if (d->queue.empty()) return;
        const WAVEHDR* h = d->queue.front();
        const uint64_t missing = h->dwBufferLength - std::min(h->dwBytesRecorded, h->dwBufferLength);
        plan->lookAt = std::min(plan->lookAt,
                                d->lastData + std::chrono::microseconds(pa_bytes_to_usec(missing, &d->pcm)) +
                                    std::chrono::milliseconds(CPulseWaveApi::kCaptureSlackMs));
    }
};

class CPulseWaveApi::Lock {
public:
    explicit Lock(const std::unique_ptr<CPulseLoop>& loop) : m_loop(loop.get()) {
        if (m_loop != nullptr) m_loop->Lock();
    }
    ~Lock() {
        if (m_loop != nullptr) m_loop->Unlock();
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CPulseLoop* m_loop;
};

CPulseWaveApi::CPulseWaveApi(std::string server) : m_server(std::move(server)) {
    m_loop = std::make_unique<CPulseLoop>();
    m_loop->SetPlanner(&CPulseWaveApi::Plan, this);
    if (!m_loop->Start("morvane-audio")) m_loop.reset();
}

CPulseLoop::Plan CPulseWaveApi::Plan(void* self) {
    auto* api = static_cast<CPulseWaveApi*>(self);
    const Clock::time_point now = Clock::now();
    CPulseLoop::Plan plan;
    if (!api->m_devices.empty()) {
        // Open devices are looked at this often at least, as the server's
        // requests for more playback data wait meanwhile.
        plan.lookAt = now + std::chrono::milliseconds(kLookIntervalMs);
        for (Device* d : api->m_devices) {
            if (!d->Ready()) continue;
            if (d->capture)
                DeviceCallbacks::PlanCapture(d, now, &plan);
            else
                DeviceCallbacks::PlanPlayback(d, now, &plan);
        }
    }
    // Posting only queues for the receiver; nothing here calls back in.
    for (const PendingPost& p : api->m_posts) p.window->PostWaveMessage(p.msg, p.handle, p.header);
    api->m_posts.clear();
    return plan;
}

void CPulseWaveApi::Post(IWaveWindow* window, uint32_t msg, uintptr_t handle, WAVEHDR* header) {
    if (m_loop != nullptr && m_loop->InThread())
        m_posts.push_back({window, msg, handle, header});
    else
        window->PostWaveMessage(msg, handle, header);
}

CPulseWaveApi::Clock::time_point CPulseWaveApi::NextFollowReading(Clock::time_point now) {
    std::uniform_int_distribution<int> ms(kFollowReadingMinMs, kFollowReadingMaxMs);
    return now + std::chrono::milliseconds(ms(m_followRandom));
}

// Told once per program run each: a user must not be left with a delay that
// is silently wrong.
void CPulseWaveApi::ReportGap() {
    if (m_toldGap) return;
    m_toldGap = true;
    std::fputs(kOutputGapReport, stderr);
}

void CPulseWaveApi::CheckCaptureAge() {
    const int64_t ageUsec =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - *m_lastCaptureEnd).count();
    m_lateCaptures = ageUsec > kLateCaptureUsec ? m_lateCaptures + 1 : 0;
    if (m_lateCaptures < kLateCapturesToTell || m_toldLateCapture) return;
    m_toldLateCapture = true;
    std::fprintf(stderr,
                 "Morvane: recorded sound arrives %.0f ms late (the sound server or the system does not "
                 "keep up); playback is lined up against it, up to 1 s.\n",
                 static_cast<double>(ageUsec) / 1000.0);
}

CPulseWaveApi::~CPulseWaveApi() {
    if (m_loop == nullptr) return;
    {
        Lock lock(m_loop);
        while (!m_devices.empty()) Destroy(*m_devices.begin());
        DropContext();
    }
    m_loop.reset();
}

// ---- waiting on the loop (never from its own thread) ----

bool CPulseWaveApi::WaitUntil(bool (*done)(void*), void* arg, int timeoutMs) {
    if (done(arg)) return true;
    if (m_loop->InThread()) return false;
    struct Alarm {
        CPulseLoop* loop;
        bool fired;
    } alarm{m_loop.get(), false};
    pa_mainloop_api* api = m_loop->Api();
    timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event* e = api->time_new(
        api, &tv,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* ud) {
            auto* a = static_cast<Alarm*>(ud);
            a->fired = true;
            a->loop->Signal();
        },
        &alarm);
    while (!done(arg) && !alarm.fired) m_loop->Wait();
    api->time_free(e);
    return done(arg);
}

bool CPulseWaveApi::WaitOperation(pa_operation* op, int timeoutMs) {
    if (op == nullptr) return false;
    pa_operation_set_state_callback(
        op, [](pa_operation*, void* ud) {
            static_cast<CPulseLoop*>(ud)->Signal();
        },
        m_loop.get());
    WaitUntil(
        [](void* o) {
            return pa_operation_get_state(static_cast<pa_operation*>(o)) != PA_OPERATION_RUNNING;
        },
        op, timeoutMs);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    // A cancelled operation calls nothing any more: its callback may point at
    // the caller's stack.
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
    pa_operation_set_state_callback(op, nullptr, nullptr);
    pa_operation_unref(op);
    return done;
}

// ---- connection and device lists ----

void CPulseWaveApi::OnContextState(pa_context* c, void* userdata) {
    auto* self = static_cast<CPulseWaveApi*>(userdata);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) self->m_listsStale = true;
    self->m_loop->Signal();
}

void CPulseWaveApi::DropContext() {
    if (m_context == nullptr) return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
    m_listsStale = true;
}

bool CPulseWaveApi::EnsureContext(bool eager) {
    if (m_loop == nullptr) return false;
    if (m_context != nullptr && pa_context_get_state(m_context) == PA_CONTEXT_READY) return true;
    if (!eager && m_lastConnectFailure && Clock::now() - *m_lastConnectFailure < kReconnectInterval)
        return false;
    DropContext();
    m_sources.clear();
    m_sinks.clear();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Morvane");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "morvane");
    m_context = pa_context_new_with_proplist(m_loop->Api(), "Morvane", props);
    pa_proplist_free(props);
    bool ok = false;
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, &CPulseWaveApi::OnContextState, this);
        // With a missing socket this can fail at once instead of by state.
        if (pa_context_connect(m_context, m_server.empty() ? nullptr : m_server.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            WaitUntil(
                [](void* c) {
                    const pa_context_state_t s = pa_context_get_state(static_cast<pa_context*>(c));
                    return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
                },
                m_context, kConnectTimeoutMs);
            ok = pa_context_get_state(m_context) == PA_CONTEXT_READY;
        }
    }
    if (!ok) {
        DropContext();
        m_lastConnectFailure = Clock::now();
        return false;
    }
    m_lastConnectFailure.reset();
    // Which server this is decides how its timing readings are read.
    std::string serverName;
    WaitOperation(pa_context_get_server_info(
                      m_context,
                      [](pa_context*, const pa_server_info* info, void* out) {
                          if (info != nullptr && info->server_name != nullptr)
                              *static_cast<std::string*>(out) = info->server_name;
                      },
                      &serverName),
                  kOperationTimeoutMs);
    m_cycleStamped = serverName.find("PipeWire") != std::string::npos;
    // Any change of a source or sink makes the lists stale; the next query
    // fetches them again.
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
            static_cast<CPulseWaveApi*>(self)->m_listsStale = true;
        },
        this);
    if (pa_operation* op = pa_context_subscribe(
            m_context,
            static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                PA_SUBSCRIPTION_MASK_SOURCE),
            nullptr, nullptr))
        pa_operation_unref(op);
    m_listsStale = true;
    return true;
}

namespace {
struct ListFetch {
    struct Item {
        uint32_t index;
        std::string name, description;
        std::string clock;  // or "of:" and the device whose clock it runs on
    };
    std::vector<Item> items;
    bool complete = false;
};

std::string Prop(pa_proplist* p, const char* key) {
    const char* v = p != nullptr ? pa_proplist_gets(p, key) : nullptr;
    return v != nullptr ? v : "";
}

// A sound card's devices share its clock; a virtual device runs on its
// master's; the server's null devices on the system clock. Anything else
// (a pipe fed from outside, a network device) has its own.
std::string ClockOf(const char* kind, const char* name, const char* driver, pa_proplist* props,
                    const char* monitorOf) {
    if (monitorOf != nullptr && *monitorOf != '\0') return std::string("of:") + monitorOf;
    if (const std::string card = Prop(props, "alsa.card"); !card.empty()) return "card:" + card;
    if (const std::string master = Prop(props, "device.master_device"); !master.empty()) return "of:" + master;
    if (driver != nullptr && std::strstr(driver, "null-") != nullptr) return "system";
    return std::string(kind) + ":" + (name != nullptr ? name : "");
}

void Collect(ListFetch* f, int eol, uint32_t index, const char* name, const char* description,
             std::string clock) {
    if (eol != 0) {
        f->complete = eol > 0;
        return;
    }
    std::string shown = description != nullptr ? description : "";
    if (shown.empty()) shown = name != nullptr ? name : "";
    f->items.push_back({index, name != nullptr ? name : "", std::move(shown), std::move(clock)});
}

void CollectSource(pa_context*, const pa_source_info* i, int eol, void* userdata) {
    auto* f = static_cast<ListFetch*>(userdata);
    if (eol == 0 && i == nullptr) return;
    Collect(f, eol, i ? i->index : 0, i ? i->name : nullptr, i ? i->description : nullptr,
            i ? ClockOf("source", i->name, i->driver, i->proplist, i->monitor_of_sink_name) : "");
}

void CollectSink(pa_context*, const pa_sink_info* i, int eol, void* userdata) {
    auto* f = static_cast<ListFetch*>(userdata);
    if (eol == 0 && i == nullptr) return;
    Collect(f, eol, i ? i->index : 0, i ? i->name : nullptr, i ? i->description : nullptr,
            i ? ClockOf("sink", i->name, i->driver, i->proplist, nullptr) : "");
}
}  // namespace

bool CPulseWaveApi::RefreshLists(bool eager) {
    if (!EnsureContext(eager)) {
        m_sources.clear();
        m_sinks.clear();
        return false;
    }
    if (!m_listsStale) return true;
    // An event that arrives while fetching marks the lists stale again.
    m_listsStale = false;
    ListFetch sources, sinks;
    const bool ok =
        WaitOperation(pa_context_get_source_info_list(m_context, &CollectSource, &sources),
                      kOperationTimeoutMs) &&
        WaitOperation(pa_context_get_sink_info_list(m_context, &CollectSink, &sinks),
                      kOperationTimeoutMs) &&
        sources.complete && sinks.complete;
    if (!ok) {
        m_listsStale = true;
        return !m_sources.empty() || !m_sinks.empty();
    }
    // "of:" a device: that device's clock, through any chain of them.
    auto clockOf = [&](std::string clock) {
        for (int depth = 0; depth < 8 && clock.rfind("of:", 0) == 0; ++depth) {
            const std::string master = clock.substr(3);
            std::string next;
            for (const ListFetch* f : {&sinks, &sources})
                for (const ListFetch::Item& i : f->items)
                    if (next.empty() && i.name == master) next = i.clock;
            clock = next;
        }
        return clock.rfind("of:", 0) == 0 ? std::string() : clock;
    };
    auto store = [&](ListFetch& f, std::vector<DeviceEntry>* out) {
        std::sort(f.items.begin(), f.items.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
        out->clear();
        for (ListFetch::Item& i : f.items) out->push_back({i.index, i.name, i.description, clockOf(i.clock)});
    };
    store(sources, &m_sources);
    store(sinks, &m_sinks);
    return true;
}

uint32_t CPulseWaveApi::Count(bool capture) {
    Lock lock(m_loop);
    RefreshLists(false);
    return static_cast<uint32_t>(capture ? m_sources.size() : m_sinks.size());
}

MMRESULT CPulseWaveApi::Name(bool capture, uint32_t id, std::string* name) {
    if (name == nullptr) return MMSYSERR_INVALPARAM;
    Lock lock(m_loop);
    if (!RefreshLists(false)) return MMSYSERR_NODRIVER;
    const std::vector<DeviceEntry>& list = capture ? m_sources : m_sinks;
    if (id == WAVE_MAPPER) return DefaultName(list, capture, name);
    if (id >= list.size()) return MMSYSERR_BADDEVICEID;
    *name = list[id].description;
    return MMSYSERR_NOERROR;
}

// The mapper is the server's default source or sink, which is what an open
// beyond the list gets: named as the list names it.
MMRESULT CPulseWaveApi::DefaultName(const std::vector<DeviceEntry>& list, bool capture,
                                    std::string* name) {
    struct Defaults {
        std::string source, sink;
    } defaults;
    if (!WaitOperation(pa_context_get_server_info(
                           m_context,
                           [](pa_context*, const pa_server_info* info, void* out) {
                               auto* d = static_cast<Defaults*>(out);
                               if (info == nullptr) return;
                               if (info->default_source_name != nullptr) d->source = info->default_source_name;
                               if (info->default_sink_name != nullptr) d->sink = info->default_sink_name;
                           },
                           &defaults),
                       kOperationTimeoutMs))
        return MMSYSERR_NODRIVER;
    const std::string& wanted = capture ? defaults.source : defaults.sink;
    if (wanted.empty()) return MMSYSERR_BADDEVICEID;
    *name = wanted;
    for (const DeviceEntry& e : list)
        if (e.name == wanted) *name = e.description;
    return MMSYSERR_NOERROR;
}

// ---- opening and closing ----

CPulseWaveApi::Device* CPulseWaveApi::Find(const void* handle, bool capture) const {
    auto* d = static_cast<Device*>(const_cast<void*>(handle));
    if (d == nullptr || m_devices.count(d) == 0 || d->capture != capture) return nullptr;
    return d;
}

MMRESULT CPulseWaveApi::Open(bool capture, void** handle, uint32_t id, const WAVEFORMATEX* format,
                             IWaveWindow* window, uint32_t flags) {
    if (handle == nullptr || format == nullptr) return MMSYSERR_INVALPARAM;
    if ((flags & ~CALLBACK_WINDOW) != 0) return MMSYSERR_INVALFLAG;
    if ((flags & CALLBACK_WINDOW) != 0 && window == nullptr) return MMSYSERR_INVALPARAM;
    pa_sample_spec pcm{};
    if (!PulseFormatFor(*format, &pcm)) return WAVERR_BADFORMAT;
    if (m_loop == nullptr) return MMSYSERR_NODRIVER;

    Lock lock(m_loop);
    if (!RefreshLists(true)) return MMSYSERR_NODRIVER;
    const std::vector<DeviceEntry>& list = capture ? m_sources : m_sinks;
    // Beyond the list, and WAVE_MAPPER, mean the server's default device.
    const char* deviceName = id < list.size() ? list[id].name.c_str() : nullptr;
    const std::string clock = id < list.size() ? list[id].clock : std::string();

    pa_channel_map map;
    pa_channel_map_init_extend(&map, pcm.channels, PA_CHANNEL_MAP_WAVEEX);
    pa_stream* s = pa_stream_new(m_context, capture ? "Capture" : "Playback", &pcm, &map);
    if (s == nullptr) return MMSYSERR_NOMEM;

    auto* d = new Device;
    d->api = this;
    d->capture = capture;
    d->clock = clock;
    d->stream = s;
    d->pcm = pcm;
    d->frame = pa_frame_size(&pcm);
    d->window = (flags & CALLBACK_WINDOW) != 0 ? window : nullptr;
    pa_stream_set_state_callback(s, &DeviceCallbacks::State, d);

    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    int rc;
    if (capture) {
        // Small fragments: a buffer comes back soon after its last sample
        // (a monitor otherwise hands data out in chunks of up to 2 s).
        attr.fragsize = static_cast<uint32_t>(
            pa_usec_to_bytes(kCaptureFragmentMs * PA_USEC_PER_MSEC, &pcm));
        pa_stream_set_read_callback(s, &DeviceCallbacks::Read, d);
        pa_stream_set_latency_update_callback(s, &DeviceCallbacks::CaptureReading, d);
        rc = pa_stream_connect_record(
            s, deviceName, &attr,
            static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                           PA_STREAM_INTERPOLATE_TIMING |
                                           PA_STREAM_AUTO_TIMING_UPDATE));
    } else {
        attr.tlength = static_cast<uint32_t>(
            pa_usec_to_bytes(kPlaybackTargetMs * PA_USEC_PER_MSEC, &pcm));
        attr.minreq = static_cast<uint32_t>(
            pa_usec_to_bytes(kPlaybackRequestMs * PA_USEC_PER_MSEC, &pcm));
        // Start as soon as anything is written; after running dry, wait for
        // the next write instead of playing on into silence.
        attr.prebuf = static_cast<uint32_t>(d->frame);
        pa_stream_set_write_callback(s, &DeviceCallbacks::Write, d);
        pa_stream_set_underflow_callback(s, &DeviceCallbacks::Underflow, d);
        // Playback follows capture's clock unless the two cannot drift apart.
        // With no capture open there is no clock to follow, and a stream
        // whose rate may change is resampled even at its own rate: it would
        // no longer play exactly what it is given.
        bool sameClock = false, captureOpen = false;
        for (const Device* other : m_devices) {
            captureOpen = captureOpen || other->capture;
            sameClock = sameClock || (other->capture && !other->clock.empty() && other->clock == clock);
        }
        // MORVANE_CLOCK_FOLLOW=0 leaves the rate alone (to see the drift).
        const char* follow = std::getenv("MORVANE_CLOCK_FOLLOW");
        d->variableRate = !m_cycleStamped && captureOpen && !sameClock &&
                          !(follow != nullptr && std::strcmp(follow, "0") == 0);
        d->appliedRate = pcm.rate;
        if (d->variableRate)
            m_clock.emplace(pcm.rate);
        else
            m_clock.reset();  // nor is capture read for it any more
        rc = pa_stream_connect_playback(
            s, deviceName, &attr,
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                           (d->variableRate ? PA_STREAM_VARIABLE_RATE : 0)),
            nullptr, nullptr);
    }
    m_devices.insert(d);
    MMRESULT result = MMSYSERR_NOERROR;
    if (rc < 0) {
        result = MMSYSERR_ERROR;
    } else {
        WaitUntil(
            [](void* st) {
                const pa_stream_state_t x = pa_stream_get_state(static_cast<pa_stream*>(st));
                return x == PA_STREAM_READY || !PA_STREAM_IS_GOOD(x);
            },
            s, kConnectTimeoutMs);
        if (pa_stream_get_state(s) != PA_STREAM_READY) result = MMSYSERR_ERROR;
    }
    if (result != MMSYSERR_NOERROR) {
        const int err = pa_context_errno(m_context);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
            result = MMSYSERR_NODRIVER;
        else if (err == PA_ERR_NOENTITY)
            result = MMSYSERR_BADDEVICEID;  // gone since the list was fetched, or no default
        else if (err == PA_ERR_NOTSUPPORTED || err == PA_ERR_INVALID)
            result = WAVERR_BADFORMAT;
        Destroy(d);
        m_listsStale = true;
        return result;
    }
    if (!capture) {
        // Playback runs are lined up using the sink's latency: have it now.
        WaitOperation(pa_stream_update_timing_info(s, nullptr, nullptr), kOperationTimeoutMs);
    }
    *handle = d;
    d->Post(capture ? MM_WIM_OPEN : MM_WOM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

void CPulseWaveApi::Destroy(Device* d) {
    if (d->capture && d->started && m_runningCaptures > 0) --m_runningCaptures;
    d->CancelTiming();
    if (d->stream != nullptr) {
        pa_stream_set_state_callback(d->stream, nullptr, nullptr);
        pa_stream_set_read_callback(d->stream, nullptr, nullptr);
        pa_stream_set_write_callback(d->stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(d->stream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(d->stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(d->stream))) pa_stream_disconnect(d->stream);
        pa_stream_unref(d->stream);
    }
    m_devices.erase(d);
    delete d;
}

MMRESULT CPulseWaveApi::Close(bool capture, void* handle) {
    Lock lock(m_loop);
    Device* d = Find(handle, capture);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (!d->queue.empty() || !d->sent.empty()) return WAVERR_STILLPLAYING;
    IWaveWindow* window = d->window;
    Destroy(d);
    if (window != nullptr)
        window->PostWaveMessage(capture ? MM_WIM_CLOSE : MM_WOM_CLOSE,
                                reinterpret_cast<uintptr_t>(handle), nullptr);
    return MMSYSERR_NOERROR;
}

// ---- headers ----

MMRESULT CPulseWaveApi::Prepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    Lock lock(m_loop);
    if (Find(handle, capture) == nullptr) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pwh, cbwh)) return MMSYSERR_INVALPARAM;
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::Unprepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    Lock lock(m_loop);
    if (Find(handle, capture) == nullptr) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::Queue(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    Lock lock(m_loop);
    Device* d = Find(handle, capture);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pwh, cbwh)) return MMSYSERR_INVALPARAM;
    if ((pwh->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    if (!d->Ready()) return MMSYSERR_NODRIVER;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pwh->lpNext = nullptr;
    if (capture) {
        pwh->dwBytesRecorded = 0;
        // Data that came while nothing was queued was dropped: filling starts now.
        if (d->queue.empty()) d->lastData = Clock::now();
        d->queue.push_back(pwh);
        return MMSYSERR_NOERROR;
    }
    // What follows a stream that ran dry is a run of its own, even while
    // the last buffers before are still being handed back.
    // Sound that comes right after the stream ran dry was late: a gap.
    // Sound that comes later is a run of its own, even while the last
    // buffers before it are still being handed back.
    // A run late by more than its first buffers goes on with the next one,
    // which must not be taken as late again and left out in turn (nothing
    // would ever be heard).
    const bool gap = d->dry && Clock::now() - d->dryAt < kLateWrite;
    const bool newRun = !gap && ((d->queue.empty() && d->sent.empty() && !d->skippedAhead) || d->dry);
    d->dry = false;
    d->queue.push_back(pwh);
    if (gap) {
        DeviceCallbacks::Resync(d);
    } else if (newRun) {
        // A new run: start it late enough into its first buffer that
        // capture latency does not add to the delay, or lead it in with
        // silence when capture was early (a monitor's data comes before it is
        // heard). The playback side is measured once the run plays.
        const int64_t usec = CompensationUsec();
        DeviceCallbacks::StartRun(d, usec, usec != 0 || m_runningCaptures > 0);
    } else {
        DeviceCallbacks::Feed(d);
    }
    // A run's first buffers need the audio thread to watch them.
    if ((newRun || gap) && !m_loop->InThread()) m_loop->Wake();
    return MMSYSERR_NOERROR;
}

int64_t CPulseWaveApi::CompensationUsec() {
    if (m_runningCaptures == 0 || !m_lastCaptureEnd) return 0;
    const Clock::time_point now = Clock::now();
    if (now - *m_lastCaptureEnd > kCaptureReferenceAge) return 0;
    // The caller writes a run as the last captured buffer completes, meaning
    // the run's first sample to be heard where that buffer ended.
    const int64_t lateUsec =
        std::chrono::duration_cast<std::chrono::microseconds>(now - *m_lastCaptureEnd).count();
    return std::clamp<int64_t>(lateUsec, -kMaxCompensationUsec, kMaxCompensationUsec);
}

int64_t CPulseWaveApi::LastPlaybackCompensationUsec(HWAVEOUT hwo) {
    Lock lock(m_loop);
    Device* d = Find(hwo, false);
    return d != nullptr ? d->lastCompensationUsec : 0;
}

// ---- start, stop, reset ----

MMRESULT CPulseWaveApi::waveInStart(HWAVEIN hwi) {
    Lock lock(m_loop);
    Device* d = Find(hwi, true);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (!d->Ready()) return MMSYSERR_NODRIVER;
    if (!d->started) {
        d->started = true;
        d->lastData = Clock::now();
        // Readings from before the start place nothing now.
        d->origins.clear();
        if (m_clock) m_clock->ForgetCapture();
        d->burstLeft = 0;
        d->nextBurst = Clock::time_point{};
        d->retryAt = Clock::time_point{};
        ++m_runningCaptures;
        if (pa_operation* op = pa_stream_cork(d->stream, 0, nullptr, nullptr))
            pa_operation_unref(op);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::waveInStop(HWAVEIN hwi) {
    Lock lock(m_loop);
    Device* d = Find(hwi, true);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (d->started) {
        d->started = false;
        if (m_runningCaptures > 0) --m_runningCaptures;
        if (d->Ready())
            if (pa_operation* op = pa_stream_cork(d->stream, 1, nullptr, nullptr))
                pa_operation_unref(op);
    }
    // The buffer being filled comes back with what it holds; empty ones stay.
    if (!d->queue.empty() && d->queue.front()->dwBytesRecorded > 0) {
        WAVEHDR* h = d->queue.front();
        d->queue.pop_front();
        d->Complete(h);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::Reset(bool capture, void* handle) {
    Lock lock(m_loop);
    Device* d = Find(handle, capture);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (capture && d->started) {
        d->started = false;
        if (m_runningCaptures > 0) --m_runningCaptures;
    }
    // Detach the queue first: while the flush is on its way the audio thread
    // must neither fill nor send any of it.
    std::deque<Device::Sent> sent;
    std::deque<WAVEHDR*> queue;
    sent.swap(d->sent);
    queue.swap(d->queue);
    d->ReturnAll();  // nothing left to return; clears the run's state
    d->reading.reset();  // the flush moves the server's read position
    if (d->Ready()) {
        // Each wait ends early if the stream or the server fails meanwhile.
        if (capture)
            WaitOperation(pa_stream_cork(d->stream, 1, nullptr, nullptr), kOperationTimeoutMs);
        if (d->Ready())
            WaitOperation(pa_stream_flush(d->stream, nullptr, nullptr), kOperationTimeoutMs);
        if (d->Ready() && capture) {
            // Drop what had already reached us before the cork.
            const void* data = nullptr;
            size_t n = 0;
            while (pa_stream_readable_size(d->stream) > 0 &&
                   pa_stream_peek(d->stream, &data, &n) == 0 && n > 0)
                pa_stream_drop(d->stream);
        }
        if (d->Ready() && !capture) {
            // The flush moved the server's indices: learn them before the
            // next run is started and its buffers are tracked.
            WaitOperation(pa_stream_update_timing_info(d->stream, nullptr, nullptr),
                          kOperationTimeoutMs);
        }
    }
    // Posted from here, in queue order, before returning. Anything the audio
    // thread finished meanwhile was posted earlier, so the order holds.
    for (const Device::Sent& x : sent) d->Complete(x.header);
    for (WAVEHDR* h : queue) d->Complete(h);
    return MMSYSERR_NOERROR;
}

// ---- the interface ----

uint32_t CPulseWaveApi::waveInGetNumDevs() { return Count(true); }
MMRESULT CPulseWaveApi::waveInGetDevName(uint32_t id, std::string* name) {
    return Name(true, id, name);
}
MMRESULT CPulseWaveApi::waveInOpen(HWAVEIN* phwi, uint32_t id, const WAVEFORMATEX* pwfx,
                                   IWaveWindow* window, uintptr_t, uint32_t fdwOpen) {
    if (phwi == nullptr) return MMSYSERR_INVALPARAM;
    void* h = nullptr;
    const MMRESULT r = Open(true, &h, id, pwfx, window, fdwOpen);
    *phwi = static_cast<HWAVEIN>(h);
    return r;
}
MMRESULT CPulseWaveApi::waveInClose(HWAVEIN hwi) { return Close(true, hwi); }
MMRESULT CPulseWaveApi::waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    return Prepare(true, hwi, pwh, cbwh);
}
MMRESULT CPulseWaveApi::waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    return Unprepare(true, hwi, pwh, cbwh);
}
MMRESULT CPulseWaveApi::waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    return Queue(true, hwi, pwh, cbwh);
}
MMRESULT CPulseWaveApi::waveInReset(HWAVEIN hwi) { return Reset(true, hwi); }

uint32_t CPulseWaveApi::waveOutGetNumDevs() { return Count(false); }
MMRESULT CPulseWaveApi::waveOutGetDevName(uint32_t id, std::string* name) {
    return Name(false, id, name);
}
MMRESULT CPulseWaveApi::waveOutOpen(HWAVEOUT* phwo, uint32_t id, const WAVEFORMATEX* pwfx,
                                    IWaveWindow* window, uintptr_t, uint32_t fdwOpen) {
    if (phwo == nullptr) return MMSYSERR_INVALPARAM;
    void* h = nullptr;
    const MMRESULT r = Open(false, &h, id, pwfx, window, fdwOpen);
    *phwo = static_cast<HWAVEOUT>(h);
    return r;
}
MMRESULT CPulseWaveApi::waveOutClose(HWAVEOUT hwo) { return Close(false, hwo); }
MMRESULT CPulseWaveApi::waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    return Prepare(false, hwo, pwh, cbwh);
}
MMRESULT CPulseWaveApi::waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    return Unprepare(false, hwo, pwh, cbwh);
}
MMRESULT CPulseWaveApi::waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    return Queue(false, hwo, pwh, cbwh);
}
MMRESULT CPulseWaveApi::waveOutReset(HWAVEOUT hwo) { return Reset(false, hwo); }

MMRESULT CPulseWaveApi::waveOutGetErrorTextA(MMRESULT code, char* text, uint32_t cchText) {
    if (text == nullptr || cchText == 0) return MMSYSERR_INVALPARAM;
    const char* s = WaveResultText(code);
    const size_t n = std::min<size_t>(std::strlen(s), cchText - 1);
    std::memcpy(text, s, n);
    text[n] = '\0';
    return MMSYSERR_NOERROR;
}

}  // namespace morvane
