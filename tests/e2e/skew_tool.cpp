// Devices on clocks of their own, and the delay measured across them.
//
// The server's pipe devices take their pace from whoever is at the other end
// of the pipe: a pipe source plays as fast as it is written to, a pipe sink
// as fast as it is read. Both ends here are paced by this machine's clock
// (the server's null devices are not: they run some hundred ppm off it).
//
//   morvane_skew_tool write FIFO PPM SECONDS
//       Writes a known noise signal (16-bit stereo, 44 100 frames a second
//       nominal) into a pipe source's FIFO at 44 100 x (1 + PPM / 10^6)
//       frames per second.
//   morvane_skew_tool read FIFO PPM SECONDS OUT.raw
//       Reads what a pipe sink writes into FIFO at that pace and keeps it;
//       says on stderr when the pipe had less than was due ("ran dry").
//   morvane_skew_tool measure OUT.raw OUT_PPM IN_PPM [SETTLE_S]
//       Each second of OUT.raw, the signal frame heard then is found by
//       correlation: frame j of OUT.raw was read at j / (44 100 (1 + OUT_PPM))
//       and signal frame k written at k / (44 100 (1 + IN_PPM)), each from its
//       own start, so their difference is the delay up to a constant. Prints
//       the delay per second relative to its value at SETTLE_S (default 30)
//       and a summary line: the largest deviation after SETTLE_S, the drift
//       in ms per hour after it, the change over the whole run, and after
//       SETTLE_S the worst correlation of a second's window and of any 10 ms
//       block (each against the signal between its frames, where a
//       resampled stream matches it), the seconds with a block below 0.9,
//       and those in which the signal was not found.

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100;

int16_t Noise(uint64_t frame) {
    uint64_t x = (frame + 1) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    return static_cast<int16_t>(x >> 48);
}

// The noise through an 8-frame moving sum: little above 5 kHz, so that the
// correlation peak survives a resampler (a playback rate that follows
// another clock, the loopback module), which full-band noise does not.
// About -16 dBFS: loud enough to find, far from clipping. Kept in a table
// that grows as frames are asked for.
int16_t Signal(uint64_t frame) {
    static std::vector<int16_t> table;
    if (frame >= table.size()) {
        const size_t from = table.size();
        table.resize(frame + 10 * static_cast<size_t>(kRate));
        for (size_t f = from; f < table.size(); ++f) {
            int sum = 0;
            for (size_t j = 0; j < 8 && j <= f; ++j) sum += Noise(f - j);
            table[f] = static_cast<int16_t>(sum / 17);
        }
    }
    return table[frame];
}

// Blocks of 10 ms, each handed over when its first frame is due by the
// skewed clock; `transfer` moves one block and says whether to go on.
template <class Transfer>
void Paced(double ppm, double seconds, Transfer transfer) {
    const double rate = kRate * (1 + ppm * 1e-6);
    constexpr uint64_t kBlock = 441;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::fprintf(stderr, "start_monotonic=%.6f\n", double(start.tv_sec) + start.tv_nsec * 1e-9);
    const auto total = static_cast<uint64_t>(seconds * rate);
    for (uint64_t frame = 0; frame < total; frame += kBlock) {
        const double due = static_cast<double>(frame) / rate;
        timespec at = start;
        at.tv_sec += static_cast<time_t>(due);
        at.tv_nsec += static_cast<long>((due - std::floor(due)) * 1e9);
        if (at.tv_nsec >= 1000000000L) {
            at.tv_sec += 1;
            at.tv_nsec -= 1000000000L;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        if (!transfer(frame, kBlock)) return;
    }
}

// A pipe holds 64 KiB (370 ms) unless told otherwise, and the server's pipe
// devices move their data, and with it their timing readings, as the pipe
// fills and empties: 16 KiB keeps that within tens of ms. It can be set
// only while the pipe holds no more than that.
void ShrinkPipe(int fd) {
    constexpr int kPipeBytes = 16384;
    std::vector<char> away(65536);
    for (int i = 0; i < 100 && fcntl(fd, F_SETPIPE_SZ, kPipeBytes) < 0 && errno == EBUSY; ++i) {
        if ((fcntl(fd, F_GETFL) & O_ACCMODE) != O_WRONLY) (void)!read(fd, away.data(), away.size());
        usleep(10000);
    }
}

int Write(const char* fifo, double ppm, double seconds) {
    std::signal(SIGPIPE, SIG_IGN);
    const int fd = open(fifo, O_WRONLY);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", fifo, std::strerror(errno));
        return 1;
    }
    ShrinkPipe(fd);
    std::vector<int16_t> block;
    Paced(ppm, seconds, [&](uint64_t frame, uint64_t frames) {
        block.resize(frames * 2);
        for (uint64_t i = 0; i < frames; ++i) block[2 * i] = block[2 * i + 1] = Signal(frame + i);
        const char* p = reinterpret_cast<const char*>(block.data());
        size_t left = block.size() * sizeof(int16_t);
        while (left > 0) {
            const ssize_t n = write(fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;  // the reader went away
            p += n;
            left -= static_cast<size_t>(n);
        }
        return true;
    });
    close(fd);
    return 0;
}

int Read(const char* fifo, double ppm, double seconds, const char* outPath) {
    // Non-blocking: a sink that stopped writing must not hold the reader.
    const int fd = open(fifo, O_RDONLY | O_NONBLOCK);
    std::FILE* out = std::fopen(outPath, "wb");
    if (fd < 0 || out == nullptr) {
        std::fprintf(stderr, "cannot open %s or %s\n", fifo, outPath);
        return 1;
    }
    ShrinkPipe(fd);
    std::vector<char> block;
    bool began = false;
    Paced(ppm, seconds, [&](uint64_t frame, uint64_t frames) {
        block.assign(frames * 4, 0);
        size_t got = 0;
        while (got < block.size()) {
            const ssize_t n = read(fd, block.data() + got, block.size() - got);
            if (n <= 0) break;  // nothing more now: the rest stays silent
            got += static_cast<size_t>(n);
        }
        // The sink fell behind (the server or this machine stood still):
        // what comes later is heard that much later, whatever plays into it.
        if (began && got < block.size())
            std::fprintf(stderr, "ran dry at_s=%.2f ms=%.1f\n", static_cast<double>(frame) / kRate,
                         static_cast<double>(block.size() - got) / 4 / kRate * 1000);
        began = began || got > 0;
        std::fwrite(block.data(), 1, block.size(), out);
        return true;
    });
    std::fclose(out);
    close(fd);
    return 0;
}

// Normalised correlation of the recording at `at` with the signal from `frame`.
double Correlation(const std::vector<float>& rec, size_t at, int64_t frame, size_t length) {
    if (frame < 0) return 0;
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = 0; i < length; ++i) {
        const double x = rec[at + i];
        const double y = Signal(static_cast<uint64_t>(frame) + i);
        xy += x * y;
        xx += x * x;
        yy += y * y;
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// The signal between its frames, from a table of windowed-sinc kernels at
// 1/64 frame apart: what a clean resampler plays is the signal at fractional
// offsets, and it matches there, not at the nearest frame (at half a frame,
// even exact playback would match only 0.97 there).
constexpr int kPhases = 64, kTaps = 32;

const std::vector<double>& Kernels() {
    static const std::vector<double> table = [] {
        std::vector<double> t(kPhases * kTaps);
        for (int p = 0; p < kPhases; ++p)
            for (int j = 0; j < kTaps; ++j) {
                const double x = double(p) / kPhases + kTaps / 2 - 1 - j;  // distance from the tap
                const double w = 0.42 + 0.5 * std::cos(M_PI * x / (kTaps / 2)) + 0.08 * std::cos(2 * M_PI * x / (kTaps / 2));
                t[p * kTaps + j] = (x == 0 ? 1 : std::sin(M_PI * x) / (M_PI * x)) * w;
            }
        return t;
    }();
    return table;
}

// Normalised correlation of the recording at `at` with the signal from the
// fractional frame `pos`.
double Correlation(const std::vector<float>& rec, size_t at, double pos, size_t length) {
    auto base = static_cast<int64_t>(std::floor(pos));
    auto phase = static_cast<int>(std::lround((pos - double(base)) * kPhases));
    if (phase == kPhases) {
        phase = 0;
        ++base;
    }
    const int64_t first = base - (kTaps / 2 - 1);
    if (base < 0 || (phase != 0 && first < 0)) return 0;
    const double* kernel = &Kernels()[phase * kTaps];
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = 0; i < length; ++i) {
        double y = 0;
        if (phase == 0) {  // on a frame: the searches, kept fast
            y = Signal(static_cast<uint64_t>(base) + i);
        } else {
            for (int j = 0; j < kTaps; ++j) y += kernel[j] * Signal(static_cast<uint64_t>(first) + i + j);
        }
        const double x = rec[at + i];
        xy += x * y;
        xx += x * x;
        yy += y * y;
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

struct Peak {
    double pos, corr;
};

// The best match near the whole frame `k0`, found between frames: the
// parabola through the frames' correlations places it roughly, a second one
// through three points a fifth of a frame apart places it closely.
Peak FinePeak(const std::vector<float>& rec, size_t at, int64_t k0, size_t length) {
    auto vertex = [](double step, double before, double mid, double after) {
        const double denom = before - 2 * mid + after;
        return denom < 0 ? std::clamp(0.5 * step * (before - after) / denom, -step, step) : 0.0;
    };
    const double c0 = Correlation(rec, at, k0, length);
    const double p = double(k0) + vertex(1, Correlation(rec, at, k0 - 1, length), c0, Correlation(rec, at, k0 + 1, length));
    constexpr double kStep = 0.2;
    const double a = Correlation(rec, at, p - kStep, length), b = Correlation(rec, at, p, length),
                 c = Correlation(rec, at, p + kStep, length);
    const double q = p + vertex(kStep, a, b, c);
    Peak best{q, Correlation(rec, at, q, length)};
    for (const Peak& other : {Peak{p - kStep, a}, Peak{p, b}, Peak{p + kStep, c}, Peak{double(k0), c0}})
        if (other.corr > best.corr) best = other;
    return best;
}

int Measure(const char* path, double ppm, double inPpm, double settle) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<float> rec(bytes.size() / 4);
    for (size_t i = 0; i < rec.size(); ++i) {
        int16_t l = 0;
        std::memcpy(&l, bytes.data() + 4 * i, 2);
        rec[i] = l;
    }
    // Short enough to follow a resampler that runs 1 % off while it builds
    // up its latency (the loopback module does, for a minute and more).
    constexpr size_t kWindow = 1024;
    const double rate = kRate * (1 + ppm * 1e-6);  // of the recording
    // A window well into the sound (what a pipe held from before comes
    // first): search every offset for it, then follow it window by window.
    auto loud = [&](size_t from) {
        double e = 0;
        for (size_t i = 0; i < kWindow; ++i) e += double(rec[from + i]) * rec[from + i];
        return e / kWindow > 1e5;
    };
    size_t at = 0;
    while (at + kWindow < rec.size() && !loud(at)) at += kWindow;
    int64_t best = 0;
    double bestCorr = 0;
    for (int tries = 0; tries < 10 && bestCorr < 0.5; ++tries) {
        at += static_cast<size_t>(kRate);
        if (at + kWindow >= rec.size()) break;
        const auto maxOffset = static_cast<int64_t>(at + 5 * kRate);
        for (int64_t k = 0; k < maxOffset; ++k) {
            const double c = Correlation(rec, at, k, 512);
            if (c > bestCorr) {
                bestCorr = c;
                best = k;
            }
        }
    }
    if (bestCorr < 0.5) {
        std::fprintf(stderr, "the signal was not found\n");
        return 1;
    }
    int64_t offset = static_cast<int64_t>(at) - best;  // recording frame - signal frame
    std::vector<std::pair<double, double>> delays;       // seconds, ms
    struct Match {
        double t, window, worstBlock;  // correlations
    };
    std::vector<Match> matches;
    int missed = 0;
    for (; at + kWindow + 200 < rec.size(); at += static_cast<size_t>(kRate)) {
        double c0 = 0;
        int64_t k0 = 0;
        // Near the last offset; once a window was missed, anywhere within
        // a second of it, found on a short window first.
        const int64_t reach = missed > 0 ? static_cast<int64_t>(kRate) : 60;
        const size_t length = missed > 0 ? 512 : kWindow;
        for (int64_t d = -reach; d <= reach; ++d) {
            const int64_t k = static_cast<int64_t>(at) - offset + d;
            const double c = Correlation(rec, at, k, length);
            if (c > c0) {
                c0 = c;
                k0 = k;
            }
        }
        if (missed > 0 && c0 >= 0.5) c0 = Correlation(rec, at, k0, kWindow);
        if (c0 < 0.5) {  // a gap or silence: no reading here
            ++missed;
            continue;
        }
        missed = 0;
        const Peak peak = FinePeak(rec, at, k0, kWindow);
        const double k = peak.pos;
        c0 = peak.corr;
        offset = static_cast<int64_t>(at) - k0;
        const double t = static_cast<double>(at) / rate;
        delays.push_back({t, (t - k / (kRate * (1 + inPpm * 1e-6))) * 1000});
        // Every 10 ms block of the second that follows, each near where the
        // one before it matched (the two clocks and a following rate move it
        // by up to some tens of frames a second): a dropout or a click shows
        // as a block that matches the signal nowhere there.
        double worstBlock = 1;
        int64_t blockOffset = offset;
        for (size_t b = at; b < at + static_cast<size_t>(kRate) && b + 441 + 200 < rec.size(); b += 441) {
            double cb = 0;
            int64_t kb = 0;
            for (int64_t d = -15; d <= 15; ++d) {
                const int64_t kk = static_cast<int64_t>(b) - blockOffset + d;
                const double c = Correlation(rec, b, kk, 441);
                if (c > cb) {
                    cb = c;
                    kb = kk;
                }
            }
            if (cb >= 0.9) {
                blockOffset = static_cast<int64_t>(b) - kb;
                cb = FinePeak(rec, b, kb, 441).corr;
            }
            worstBlock = std::min(worstBlock, cb);
        }
        matches.push_back({t, c0, worstBlock});
    }
    if (delays.empty()) {
        std::fprintf(stderr, "the signal was not found\n");
        return 1;
    }
    const double t0 = delays.front().first;
    double reference = delays.front().second;
    for (const auto& [t, ms] : delays)
        if (t - t0 <= settle) reference = ms;
    double worst = 0, st = 0, sd = 0, stt = 0, std_ = 0;
    size_t n = 0;
    for (const auto& [t, ms] : delays) {
        std::printf("t=%.0f delay_ms=%+.3f rec_s=%.3f raw_ms=%.3f\n", t - t0, ms - reference, t, ms);
        if (t - t0 < settle) continue;
        worst = std::max(worst, std::fabs(ms - reference));
        st += t;
        sd += ms;
        ++n;
    }
    double drift = 0;
    if (n > 2) {
        const double mt = st / double(n), md = sd / double(n);
        for (const auto& [t, ms] : delays)
            if (t - t0 >= settle) {
                stt += (t - mt) * (t - mt);
                std_ += (t - mt) * (ms - md);
            }
        drift = std_ / stt * 3600;
    }
    const double whole = (delays.back().second - delays.front().second);
    double worstWindow = 1, worstBlock = 1;
    int blocksOff = 0;
    for (const Match& m : matches) {
        if (m.t - t0 < settle) continue;
        worstWindow = std::min(worstWindow, m.window);
        // The last second runs on past the end of the sound.
        if (&m == &matches.back()) continue;
        worstBlock = std::min(worstBlock, m.worstBlock);
        blocksOff += m.worstBlock < 0.9;
    }
    // Seconds after settling in which the signal was not found at all.
    const auto settled = static_cast<int>(std::count_if(matches.begin(), matches.end(),
                                                          [&](const Match& m) { return m.t - t0 >= settle; }));
    const int missedAfter = static_cast<int>((delays.back().first - t0 - settle)) + 1 - settled;
    std::printf("out_ppm=%+.0f in_ppm=%+.0f seconds=%.0f settle_s=%.0f worst_after_settle_ms=%.2f drift_ms_per_hour=%+.1f "
                "change_from_start_ms=%+.2f worst_window_corr=%.4f worst_block_corr=%.3f seconds_with_a_block_below_0_9=%d "
                "seconds_not_found=%d\n",
                ppm, inPpm, delays.back().first - t0, settle, worst, drift, whole, worstWindow, worstBlock, blocksOff,
                std::max(missedAfter, 0));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "write") == 0)
        return Write(argv[2], std::atof(argv[3]), std::atof(argv[4]));
    if (argc >= 6 && std::strcmp(argv[1], "read") == 0)
        return Read(argv[2], std::atof(argv[3]), std::atof(argv[4]), argv[5]);
    if (argc >= 5 && std::strcmp(argv[1], "measure") == 0)
        return Measure(argv[2], std::atof(argv[3]), std::atof(argv[4]), argc >= 6 ? std::atof(argv[5]) : 30);
    std::fprintf(stderr,
                 "usage: morvane_skew_tool write FIFO PPM SECONDS\n"
                 "       morvane_skew_tool read FIFO PPM SECONDS OUT.raw\n"
                 "       morvane_skew_tool measure OUT.raw OUT_PPM IN_PPM [SETTLE_S]\n");
    return 2;
}
