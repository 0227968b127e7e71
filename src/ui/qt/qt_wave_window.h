#pragma once
// Where the wave devices post their notifications: from any thread (the
// sound server client's own among them) onto the UI thread's event queue,
// delivered in post order by whatever event loop runs, modal ones included.

#include <QObject>
#include <functional>

#include "audio/wave_api.h"

namespace morvane {

class CQtWaveWindow final : public QObject, public IWaveWindow {
public:
    using Receiver = std::function<void(uint32_t msg, uintptr_t device, WAVEHDR* header)>;

    // Lives on the thread that makes it, which must be the UI thread.
    explicit CQtWaveWindow(Receiver receiver);

    void PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) override;

protected:
    bool event(QEvent* event) override;

private:
    Receiver m_receiver;
};

}  // namespace morvane
