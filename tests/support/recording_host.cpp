#include "recording_host.h"

#include "resource.h"

namespace morvane::sim {

CRecordingHost::CRecordingHost() {
    onTextSet = [this] {
        if (handler != nullptr) Command(IDC_DELAY_EDIT, EN_UPDATE);
    };
    window.SetHandler([this](const WaveMessage& m) {
        Send(m.msg, m.device, reinterpret_cast<intptr_t>(m.header));
    });
}

intptr_t CRecordingHost::Send(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    bool handled = false;
    return handler->HandleMessage(msg, wParam, lParam, &handled);
}

bool CRecordingHost::CreateDialog(IDialogHandler& h) {
    if (createFails) return false;
    handler = &h;
    Send(WM_INITDIALOG);
    return true;
}

int CRecordingHost::RunMessageLoop() {
    if (loop) loop();
    return quitCode;
}

void CRecordingHost::ComboSetCurSel(int id, int index) {
    const auto& items = comboItems[id];
    comboSel[id] = (index >= 0 && index < static_cast<int>(items.size())) ? index : -1;
}

intptr_t CRecordingHost::ShellExecute(const std::string& file, const std::string& parameters) {
    launched.push_back(parameters.empty() ? file : file + " " + parameters);
    if (launchResults.empty()) return 42;
    const intptr_t r = launchResults.front();
    launchResults.erase(launchResults.begin());
    return r;
}

}  // namespace morvane::sim
