#pragma once
// Notices a sound server that goes away under the running program and comes
// back: says so once each way, and starts the line again on the server's
// return, as Stop and Play would, since the devices it had went with it.

#include <cstdio>

namespace morvane {

class IWaveApi;
class CDelayEngine;

class CServerWatch {
public:
    CServerWatch(IWaveApi& wave, CDelayEngine& engine, std::FILE* report)
        : m_wave(wave), m_engine(engine), m_report(report) {}

    // On the UI thread, every half second or so. A server that lists no
    // device at all counts as gone: nothing could play on it.
    void Check();

private:
    IWaveApi& m_wave;
    CDelayEngine& m_engine;
    std::FILE* m_report;
    bool m_gone = false;
};

}  // namespace morvane
