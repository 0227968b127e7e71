// Measures the delay between the two halves of a 4-channel recording of the
// test bus: channels 1-2 are what went into the input, channels 3-4 what came
// out of the output, sample-aligned.
//
//   morvane_measure_delay [--from S] [--to S] [--max-delay S] [--search-ms MS]
//                         [--min-rms-dbfs DB] [--windows] file.wav
//
// Prints one line of key=value pairs:
//   delay_ms               delay found by cross-correlating the whole span
//   peak_corr              normalised correlation at that delay
//   windows                1 s windows whose input had signal
//   min_window_corr        worst normalised correlation of those windows
//   min_window_delay_ms, max_window_delay_ms, window_delay_spread_ms
//                          the per-window delays' range
//   drift_ms               per-window delay change over the span (line fit)
//   max_block_residual_db  worst 10 ms block: output minus the gain-matched
//                          input at the window's whole-sample lag, against
//                          the input, in dB (dropouts and clicks show here)
//   out_max_rms_dbfs       loudest 1 s of the output half (per channel)
//   out_longest_silence_ms the longest run of 10 ms output blocks below
//                          -50 dBFS (a refill, an inserted silence, a
//                          dropout); what the recording lost is not counted
//   out_first_sound_s, out_last_sound_s
//                          where the output's first and last 10 ms block
//                          at -50 dBFS or above starts (-1: none); a sound
//                          where silence was due tells from these where
//   recording_gaps         spans where all four channels are exactly zero at
//                          once: the recorder or the bus lost a cycle, and
//                          the input half proves it was not the program.
//                          Such a span, and its counterpart one delay away,
//                          is left out of the correlations and residuals.
//   duration_s             length of the span
// With --windows, one line per window before it. Exit code 0 when a delay
// was found, 1 when the input had no signal, 2 on a bad file or arguments.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace {

using Complex = std::complex<double>;

constexpr double kFullScale = 32768.0;

struct Recording {
    double rate = 0;
    std::vector<float> in;   // channels 1 + 2
    std::vector<float> out;  // channels 3 + 4
    std::vector<uint8_t> lost;  // 1 where all four channels are exactly 0
};

uint32_t Le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

// Reads a 4-channel 16-bit PCM WAV. A recorder stopped by a signal may leave
// the data size unwritten (0 or too large): the data then runs to the end.
std::optional<Recording> ReadWav(const char* path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot open " + std::string(path);
        return std::nullopt;
    }
    file.seekg(0, std::ios::end);
    std::vector<unsigned char> bytes(size_t(std::max<std::streamoff>(0, file.tellg())));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        *error = "not a WAV file";
        return std::nullopt;
    }
    size_t pos = 12;
    uint16_t channels = 0, bits = 0, format = 0;
    uint32_t rate = 0;
    bool haveFormat = false;
    while (pos + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + pos;
        const uint32_t size = Le32(chunk + 4);
        const size_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && body + 16 <= bytes.size()) {
            format = Le16(bytes.data() + body);
            channels = Le16(bytes.data() + body + 2);
            rate = Le32(bytes.data() + body + 4);
            bits = Le16(bytes.data() + body + 14);
            if (format == 0xFFFE && size >= 40 && body + 26 <= bytes.size())
                format = Le16(bytes.data() + body + 24);  // the sub-format's tag
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            if (format != 1 || bits != 16 || channels != 4 || rate == 0) {
                *error = "expected 4-channel 16-bit PCM, got format " + std::to_string(format) + ", " +
                         std::to_string(channels) + " channels, " + std::to_string(bits) + " bits";
                return std::nullopt;
            }
            size_t length = size;
            if (length == 0 || length > bytes.size() - body) length = bytes.size() - body;
            const size_t frames = length / 8;
            Recording r;
            r.rate = rate;
            r.in.resize(frames);
            r.out.resize(frames);
            r.lost.resize(frames);
            const unsigned char* p = bytes.data() + body;
            for (size_t i = 0; i < frames; ++i, p += 8) {
                const auto s = [p](int c) { return float(int16_t(Le16(p + 2 * c))); };
                r.in[i] = s(0) + s(1);
                r.out[i] = s(2) + s(3);
                r.lost[i] = Le32(p) == 0 && Le32(p + 4) == 0;
            }
            return r;
        }
        pos = body + size + (size & 1);
    }
    *error = haveFormat ? "no data chunk" : "no format chunk";
    return std::nullopt;
}

// In-place iterative radix-2 FFT; `inverse` leaves the result unscaled.
void Fft(std::vector<Complex>& a, bool inverse) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    // Twiddles stage by stage, each stage's run contiguous (stage of half
    // length h at offset h), so that the inner loop reads memory in order.
    std::vector<Complex> twiddle(std::max<size_t>(n, 2));
    const double sign = inverse ? 1.0 : -1.0;
    for (size_t half = 1; half < n; half <<= 1)
        for (size_t k = 0; k < half; ++k)
            twiddle[half + k] = std::polar(1.0, sign * std::numbers::pi * double(k) / double(half));
    for (size_t half = 1; half < n; half <<= 1) {
        const Complex* t = twiddle.data() + half;
        for (size_t i = 0; i < n; i += 2 * half) {
            Complex* lo = a.data() + i;
            Complex* hi = lo + half;
            for (size_t k = 0; k < half; ++k) {
                // Spelled out: std::complex's operator* checks for infinities
                // and makes this several times slower.
                const double vr = hi[k].real() * t[k].real() - hi[k].imag() * t[k].imag();
                const double vi = hi[k].real() * t[k].imag() + hi[k].imag() * t[k].real();
                const Complex u = lo[k];
                lo[k] = Complex(u.real() + vr, u.imag() + vi);
                hi[k] = Complex(u.real() - vr, u.imag() - vi);
            }
        }
    }
}

size_t NextPow2(size_t n) {
    size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

// r[k] = sum_n y[n + k] * x[n] for k = 0 .. lags - 1 (y lags behind x by k).
// Both real signals go through one complex transform.
std::vector<double> CrossCorrelate(const float* x, size_t nx, const float* y, size_t ny, size_t lags) {
    const size_t n = NextPow2(std::max(nx, ny) + lags);
    std::vector<Complex> z(n);
    for (size_t i = 0; i < nx; ++i) z[i].real(x[i]);
    for (size_t i = 0; i < ny; ++i) z[i].imag(y[i]);
    Fft(z, false);
    // Split Z into X and Y, then form conj(X) * Y.
    std::vector<Complex> prod(n);
    for (size_t k = 0; k < n; ++k) {
        const Complex a = z[k], b = std::conj(z[(n - k) % n]);
        const Complex X = (a + b) * 0.5;
        const Complex Y = (a - b) * Complex(0, -0.5);
        prod[k] = std::conj(X) * Y;
    }
    Fft(prod, true);
    std::vector<double> r(lags);
    for (size_t k = 0; k < lags; ++k) r[k] = prod[k].real() / double(n);
    return r;
}

// Offset of the true peak from index i, by a parabola through its neighbours.
double ParabolicOffset(const std::vector<double>& v, size_t i) {
    if (i == 0 || i + 1 >= v.size()) return 0;
    const double a = v[i - 1], b = v[i], c = v[i + 1];
    const double d = a - 2 * b + c;
    return d == 0 ? 0 : 0.5 * (a - c) / d;
}

struct Prefix {
    std::vector<double> sum;  // sum[i] = energy of samples 0 .. i-1
    explicit Prefix(const std::vector<float>& s) : sum(s.size() + 1) {
        for (size_t i = 0; i < s.size(); ++i) sum[i + 1] = sum[i] + double(s[i]) * s[i];
    }
    double Energy(size_t begin, size_t end) const { return end > begin ? sum[end] - sum[begin] : 0; }
};

double Dbfs(double energy, size_t n) {
    // Two channels were summed: scale back to one channel's full scale.
    const double rms = n ? std::sqrt(energy / double(n)) / 2 / kFullScale : 0;
    return rms > 0 ? 20 * std::log10(rms) : -200;
}

// Runs of all-zero frames at least `minFrames` long: [begin, end) each.
// Noise on the input half is never exactly zero on both channels for long.
std::vector<std::pair<size_t, size_t>> RecordingGaps(const std::vector<uint8_t>& lost, size_t minFrames) {
    std::vector<std::pair<size_t, size_t>> gaps;
    for (size_t i = 0; i < lost.size();) {
        if (!lost[i]) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < lost.size() && lost[j]) ++j;
        if (j - i >= minFrames) gaps.emplace_back(i, j);
        i = j;
    }
    return gaps;
}

// The longest run of quiet 10 ms blocks of the output, in ms. Blocks that
// touch what the recording lost end a run: that silence is not the output's.
double LongestSilenceMs(const Prefix& out, const std::vector<std::pair<size_t, size_t>>& lost, size_t n,
                        double rate) {
    const size_t block = size_t(rate / 100);
    std::vector<uint8_t> touched(n / block + 1);
    for (const auto& [a, b] : lost)
        for (size_t k = a / block; k <= (b - 1) / block && k < touched.size(); ++k) touched[k] = 1;
    size_t run = 0, longest = 0;
    for (size_t b = 0; b + block <= n; b += block) {
        run = (!touched[b / block] && Dbfs(out.Energy(b, b + block), block) < -50) ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return double(longest * block) / rate * 1000;
}

// Where the output has sound (10 ms blocks at -50 dBFS or above): the first
// and the last such block's start in s, or -1 for both when none has.
std::pair<double, double> SoundExtent(const Prefix& out, size_t n, double rate) {
    const size_t block = size_t(rate / 100);
    double first = -1, last = -1;
    for (size_t b = 0; b + block <= n; b += block) {
        if (Dbfs(out.Energy(b, b + block), block) < -50) continue;
        if (first < 0) first = double(b) / rate;
        last = double(b) / rate;
    }
    return {first, last};
}

struct Window {
    double start_s, delay_ms, corr, in_dbfs, out_dbfs, residual_db;
};

// The worst 10 ms block of an output window against its input at a whole
// sample lag, scaled by the least-squares gain: the energy of what does not
// match, relative to the input's, in dB. A few missing or repeated
// milliseconds hardly move a 1 s correlation but stand out here.
// Blocks with any sample flagged in `skip` (output positions) are not judged.
double WorstBlockResidualDb(const float* y, const float* x, const uint8_t* skip, size_t w, size_t block,
                            double gain) {
    if (gain <= 0) return 0;  // nothing of the input in the output
    double total = 0;
    for (size_t j = 0; j < w; ++j) total += double(x[j]) * x[j];
    // Blocks 40 dB below the window's mean carry too little to judge.
    const double quiet = 1e-4 * total / double(w) * double(block);
    double worst = -200;
    for (size_t b = 0; b + block <= w; b += block) {
        if (std::find(skip + b, skip + b + block, 1) != skip + b + block) continue;
        double in = 0, res = 0;
        for (size_t j = b; j < b + block; ++j) {
            in += double(x[j]) * x[j];
            const double e = y[j] - gain * x[j];
            res += e * e;
        }
        if (in <= quiet) continue;
        worst = std::max(worst, 10 * std::log10(std::max(res / (gain * gain * in), 1e-20)));
    }
    return worst;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: morvane_measure_delay [--from S] [--to S] [--max-delay S] [--search-ms MS]\n"
                 "                             [--min-rms-dbfs DB] [--windows] file.wav\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    double from = 0, to = -1, maxDelay = 31, searchMs = 20, minDbfs = -50;
    bool listWindows = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto number = [&](double* v) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            *v = std::strtod(argv[++i], &end);
            return *end == '\0';
        };
        if (a == "--from") {
            if (!number(&from)) return Usage();
        } else if (a == "--to") {
            if (!number(&to)) return Usage();
        } else if (a == "--max-delay") {
            if (!number(&maxDelay)) return Usage();
        } else if (a == "--search-ms") {
            if (!number(&searchMs)) return Usage();
        } else if (a == "--min-rms-dbfs") {
            if (!number(&minDbfs)) return Usage();
        } else if (a == "--windows") {
            listWindows = true;
        } else if (!a.empty() && a[0] != '-' && path == nullptr) {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (path == nullptr) return Usage();

    std::string error;
    auto rec = ReadWav(path, &error);
    if (!rec) {
        std::fprintf(stderr, "morvane_measure_delay: %s\n", error.c_str());
        return 2;
    }
    const double rate = rec->rate;
    // Cut the span to look at; everything below works on it alone.
    {
        const size_t total = rec->in.size();
        const size_t b = std::min(total, size_t(std::max(0.0, from) * rate));
        const size_t e = to < 0 ? total : std::clamp(size_t(to * rate), b, total);
        rec->in = std::vector<float>(rec->in.begin() + b, rec->in.begin() + e);
        rec->out = std::vector<float>(rec->out.begin() + b, rec->out.begin() + e);
        rec->lost = std::vector<uint8_t>(rec->lost.begin() + b, rec->lost.begin() + e);
    }
    std::vector<float>& x = rec->in;
    std::vector<float>& y = rec->out;
    const size_t n = x.size();
    Prefix px(x), py(y);
    const double longestSilenceMs = LongestSilenceMs(py, RecordingGaps(rec->lost, size_t(rate / 1000)), n, rate);
    auto [firstSound, lastSound] = SoundExtent(py, n, rate);
    if (firstSound >= 0) firstSound += std::max(0.0, from), lastSound += std::max(0.0, from);
    if (n < size_t(rate) || Dbfs(px.Energy(0, n), n) < minDbfs) {
        std::printf("delay_ms=nan peak_corr=0 windows=0 min_window_corr=0 min_window_delay_ms=nan "
                    "max_window_delay_ms=nan window_delay_spread_ms=nan drift_ms=nan max_block_residual_db=0 "
                    "out_max_rms_dbfs=%.1f out_longest_silence_ms=%.0f out_first_sound_s=%.3f out_last_sound_s=%.3f "
                    "recording_gaps=0 duration_s=%.3f\n",
                    Dbfs(py.Energy(0, n), n), longestSilenceMs, firstSound, lastSound, double(n) / rate);
        std::fprintf(stderr, "morvane_measure_delay: the input half has no signal\n");
        return 1;
    }

    // The whole span: the lag with the highest correlation, normalised by the
    // energies of the overlapping parts so that short overlaps do not win.
    const size_t lags = std::min(n, size_t(maxDelay * rate) + 1);
    const std::vector<double> r = CrossCorrelate(x.data(), n, y.data(), n, lags);
    std::vector<double> norm(lags);
    size_t best = 0;
    for (size_t k = 0; k < lags; ++k) {
        const double e = std::sqrt(px.Energy(0, n - k) * py.Energy(k, n));
        // Demand at least 1 s of overlap, or the edges produce flukes.
        norm[k] = (e > 0 && n - k >= size_t(rate)) ? r[k] / e : 0;
        if (norm[k] > norm[best]) best = k;
    }
    const double delaySamples = double(best) + ParabolicOffset(norm, best);
    const double delayMs = delaySamples / rate * 1000;

    // What the recording lost (1 ms or more) is silence on both halves at
    // once; its counterparts one delay later on the output and one delay
    // earlier on the input then have nothing to match. Silence all three on
    // both halves, paired at this lag (with 2 ms to spare for the windows'
    // own lags), and judge no output block that touches them.
    const auto gaps = RecordingGaps(rec->lost, size_t(rate / 1000));
    std::vector<uint8_t> skip(n);
    if (!gaps.empty()) {
        const auto margin = ptrdiff_t(rate / 500);
        const auto lag = ptrdiff_t(best);
        const auto clear = [&](ptrdiff_t begin, ptrdiff_t end) {  // output positions
            for (ptrdiff_t j = std::max<ptrdiff_t>(begin - margin, 0); j < end + margin && j < ptrdiff_t(n); ++j) {
                y[size_t(j)] = 0;
                skip[size_t(j)] = 1;
                if (j >= lag) x[size_t(j - lag)] = 0;
            }
        };
        for (const auto& [a, b] : gaps) {
            clear(ptrdiff_t(a), ptrdiff_t(b));
            clear(ptrdiff_t(a) + lag, ptrdiff_t(b) + lag);
        }
        px = Prefix(x);
        py = Prefix(y);
    }

    // Every 1 s window of the output whose input, one delay earlier (give or
    // take the search range), lies in the span and has signal; each gets its
    // own best lag near the global one.
    const size_t w = size_t(rate);
    const size_t search = size_t(searchMs / 1000 * rate);
    // The output's loudest second: windows every half second, and one that
    // ends with the span, so that no part of it goes unheard.
    double outMaxDbfs = -200;
    for (size_t start = 0; start + w <= n; start += w / 2)
        outMaxDbfs = std::max(outMaxDbfs, Dbfs(py.Energy(start, start + w), w));
    outMaxDbfs = std::max(outMaxDbfs, Dbfs(py.Energy(n - w, n), w));
    std::vector<Window> windows;
    for (size_t start = best + search; start + w <= n && start + w + search <= n + best; start += w) {
        const size_t inBegin = start - best - search;
        const size_t inLength = w + 2 * search;
        const double inDb = Dbfs(px.Energy(start - best, start - best + w), w);
        const double outDb = Dbfs(py.Energy(start, start + w), w);
        if (inDb < minDbfs) continue;
        // local[m] pairs y[start + j] with x[inBegin + m + j]: lag best + search - m.
        const std::vector<double> local =
            CrossCorrelate(y.data() + start, w, x.data() + inBegin, inLength, 2 * search + 1);
        const double ey = py.Energy(start, start + w);
        std::vector<double> c(local.size());
        size_t top = 0;
        for (size_t m = 0; m < local.size(); ++m) {
            const double e = std::sqrt(ey * px.Energy(inBegin + m, inBegin + m + w));
            c[m] = e > 0 ? local[m] / e : 0;
            if (c[m] > c[top]) top = m;
        }
        const double lag = double(best + search) - (double(top) + ParabolicOffset(c, top));
        const double ex = px.Energy(inBegin + top, inBegin + top + w);
        const double residual = WorstBlockResidualDb(y.data() + start, x.data() + inBegin + top, skip.data() + start, w,
                                                     size_t(rate / 100), ex > 0 ? local[top] / ex : 0);
        windows.push_back({double(start) / rate, lag / rate * 1000, c[top], inDb, outDb, residual});
    }

    double minCorr = windows.empty() ? 0 : 1, lo = 0, hi = 0, drift = 0, worstResidual = 0;
    if (!windows.empty()) {
        lo = hi = windows[0].delay_ms;
        worstResidual = -200;
        for (const Window& win : windows) {
            minCorr = std::min(minCorr, win.corr);
            worstResidual = std::max(worstResidual, win.residual_db);
            lo = std::min(lo, win.delay_ms);
            hi = std::max(hi, win.delay_ms);
        }
    }
    if (windows.size() >= 2) {
        // Least-squares line through the window delays; its rise over the span.
        double st = 0, sd = 0, stt = 0, stdl = 0;
        for (const Window& win : windows) {
            st += win.start_s;
            sd += win.delay_ms;
            stt += win.start_s * win.start_s;
            stdl += win.start_s * win.delay_ms;
        }
        const double k = double(windows.size());
        const double den = k * stt - st * st;
        const double slope = den != 0 ? (k * stdl - st * sd) / den : 0;
        drift = slope * (windows.back().start_s - windows.front().start_s);
    }

    if (listWindows) {
        for (const Window& win : windows)
            std::printf("window start_s=%.3f delay_ms=%.3f corr=%.5f residual_db=%.1f in_rms_dbfs=%.1f "
                        "out_rms_dbfs=%.1f\n",
                        win.start_s + from, win.delay_ms, win.corr, win.residual_db, win.in_dbfs, win.out_dbfs);
    }
    std::printf("delay_ms=%.3f peak_corr=%.5f windows=%zu min_window_corr=%.5f min_window_delay_ms=%.3f "
                "max_window_delay_ms=%.3f window_delay_spread_ms=%.3f drift_ms=%.3f max_block_residual_db=%.1f "
                "out_max_rms_dbfs=%.1f out_longest_silence_ms=%.0f out_first_sound_s=%.3f out_last_sound_s=%.3f "
                "recording_gaps=%zu duration_s=%.3f\n",
                delayMs, norm[best], windows.size(), minCorr, lo, hi, hi - lo, drift, worstResidual, outMaxDbfs,
                longestSilenceMs, firstSound, lastSound, gaps.size(), double(n) / rate);
    return 0;
}
