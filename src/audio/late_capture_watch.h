#pragma once
// Tells the user once, on stderr, when recorded sound keeps arriving late:
// the sound server or the system does not keep up. Each captured buffer's
// age (from its last sample's capture to its arrival) is noted; this long,
// this many times in a row, is late, and not before, so that one slow
// moment says nothing.

#include <cstdint>
#include <cstdio>

namespace morvane {

class CLateCaptureWatch {
public:
    static constexpr int64_t kLateUsec = 300000;
    static constexpr int kInARow = 3;

    explicit CLateCaptureWatch(std::FILE* report = stderr) : m_report(report) {}
    // True when this note is the one that told.
    bool Note(int64_t ageUsec);

private:
    std::FILE* m_report;
    int m_late = 0;
    bool m_told = false;
};

}  // namespace morvane
