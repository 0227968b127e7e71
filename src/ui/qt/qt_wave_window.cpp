#include "ui/qt/qt_wave_window.h"

#include <QCoreApplication>
#include <QEvent>

namespace morvane {
namespace {

const QEvent::Type kWaveEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct WaveEvent final : QEvent {
    WaveEvent(uint32_t m, uintptr_t d, WAVEHDR* h) : QEvent(kWaveEventType), msg(m), device(d), header(h) {}
    uint32_t msg;
    uintptr_t device;
    WAVEHDR* header;
};

}  // namespace

CQtWaveWindow::CQtWaveWindow(Receiver receiver) : m_receiver(std::move(receiver)) {}

// Events posted to one receiver at one priority keep their order.
void CQtWaveWindow::PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) {
    QCoreApplication::postEvent(this, new WaveEvent(uMsg, hDevice, pwh));
}

bool CQtWaveWindow::event(QEvent* event) {
    if (event->type() != kWaveEventType) return QObject::event(event);
    const auto* wave = static_cast<WaveEvent*>(event);
    if (m_receiver) m_receiver(wave->msg, wave->device, wave->header);
    return true;
}

}  // namespace morvane
