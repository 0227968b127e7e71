#include "ui/headless_host.h"

#include <algorithm>
#include <cctype>

#include "engine/delay_engine.h"
#include "engine/delay_text.h"
#include "resource.h"

namespace morvane {

CHeadlessHost::CHeadlessHost(std::FILE* report, bool interactive)
    : m_report(report), m_interactive(interactive) {}

CHeadlessHost::~CHeadlessHost() {
    // Devices may still post while the dialog is torn down: drop them.
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_queue.clear();
}

bool CHeadlessHost::Post(std::function<void()> work) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended) return false;
        wasEmpty = m_queue.empty();
        m_queue.push_back(std::move(work));
    }
    // The loop only sleeps on an empty queue: a burst of posts wakes it once.
    if (wasEmpty) m_wake.notify_one();
    return true;
}

void CHeadlessHost::PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) {
    Post([this, uMsg, hDevice, pwh] {
        if (!m_destroyed) Send(uMsg, hDevice, reinterpret_cast<intptr_t>(pwh));
    });
}

bool CHeadlessHost::PostInput(const std::string& line) {
    return Post([this, line] { HandleInput(line); });
}

bool CHeadlessHost::PostCall(std::function<void()> work) {
    return Post([this, work = std::move(work)] {
        if (!m_destroyed) work();
    });
}

void CHeadlessHost::PostExit() {
    Post([this] {
        if (!m_destroyed) Send(WM_COMMAND, MakeCommand(IDCANCEL, BN_CLICKED));
    });
}

intptr_t CHeadlessHost::Send(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    bool handled = false;
    return m_handler->HandleMessage(msg, wParam, lParam, &handled);
}

bool CHeadlessHost::CreateDialog(IDialogHandler& handler) {
    m_handler = &handler;
    Send(WM_INITDIALOG, 0);
    return true;
}

int CHeadlessHost::RunMessageLoop() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            if (m_quit) {
                m_ended = true;
                m_queue.clear();
                return m_quitCode;
            }
            work = std::move(m_queue.front());
            m_queue.pop_front();
        }
        work();
    }
}

void CHeadlessHost::DestroyWindow() { m_destroyed = true; }

void CHeadlessHost::PostQuitMessage(int code) {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_quitCode = code;
    }
    m_wake.notify_one();
    if (m_interactive && m_lastFill >= 0) std::fputc('\n', m_report);
}

int CHeadlessHost::ComboGetCurSel(int id) {
    auto it = m_selection.find(id);
    return it == m_selection.end() ? -1 : it->second;
}

void CHeadlessHost::ComboAddString(int id, const std::string& text) { m_items[id].push_back(text); }

void CHeadlessHost::ComboSetCurSel(int id, int index) {
    const int count = static_cast<int>(m_items[id].size());
    m_selection[id] = (index >= 0 && index < count) ? index : -1;
}

void CHeadlessHost::TrackbarSetRange(int, int min, int max, bool) {
    m_sliderMin = min;
    m_sliderMax = max;
    m_sliderPos = std::clamp(m_sliderPos, min, max);
}

void CHeadlessHost::TrackbarSetSel(int, int, int end, bool) { ShowFill(end + 1); }

std::string CHeadlessHost::GetText(int, size_t maxChars) { return m_text.substr(0, maxChars); }

void CHeadlessHost::SetText(int id, const std::string& text) {
    m_text = text;
    m_caret = static_cast<int>(text.size());
    // An edit box tells its dialog at once, before the setter returns.
    if (id == IDC_DELAY_EDIT && m_handler != nullptr) Send(WM_COMMAND, MakeCommand(id, EN_UPDATE));
}

void CHeadlessHost::EditGetSel(int, int* start, int* end) { *start = *end = m_caret; }

void CHeadlessHost::EditSetSel(int, int start, int) { m_caret = start; }

void CHeadlessHost::MessageBox(const std::string& text, const std::string& caption) {
    std::fprintf(m_report, "%s%s: %s\n", m_interactive && m_lastFill >= 0 ? "\n" : "", caption.c_str(),
                 text.c_str());
}

intptr_t CHeadlessHost::ShellExecute(const std::string&, const std::string&) {
    return 31;  // nothing to show a volume control on
}

void CHeadlessHost::RunAboutBox() {
    std::fprintf(m_report, "Morvane %s\n", MORVANE_VERSION);
}

// Input lines act as the window's controls would: a delay is typed over the
// box's whole text (four characters at most), + and - are an arrow key on the
// slider, play and stop click their buttons, quit is the Exit button.
void CHeadlessHost::HandleInput(const std::string& raw) {
    if (m_destroyed) return;
    std::string line = raw;
    line.erase(std::remove_if(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c); }),
               line.end());
    for (auto& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (line.empty()) return;
    if (line == "play") {
        Click(IDC_PLAY);
    } else if (line == "stop") {
        Click(IDC_STOP);
    } else if (line == "quit" || line == "exit") {
        Send(WM_COMMAND, MakeCommand(IDCANCEL, BN_CLICKED));
    } else if (line == "+" || line == "-") {
        Nudge(line == "+" ? 1 : -1);
    } else if (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '.') {
        Type(line);
    } else {
        std::fprintf(m_report, "Commands: a delay in seconds (e.g. 2.5), + or - (a tenth more or less), "
                               "play, stop, quit\n");
    }
}

void CHeadlessHost::Click(int id) {
    // Play and Stop are one radio group: clicking one checks it alone.
    m_checks[IDC_PLAY] = id == IDC_PLAY;
    m_checks[IDC_STOP] = id == IDC_STOP;
    Send(WM_COMMAND, MakeCommand(id, BN_CLICKED));
    if (id == IDC_STOP) std::fprintf(m_report, "%sStopped\n", m_interactive && m_lastFill >= 0 ? "\n" : "");
    m_lastFill = -1;
}

// Keystroke by keystroke over the whole text selected, as a user retyping the
// box would: every keystroke goes through the update rule, and one that would
// make the text longer than the box takes is refused.
void CHeadlessHost::Type(const std::string& text) {
    int selStart = 0;
    int selEnd = static_cast<int>(m_text.size());
    for (char c : text) {
        std::string next = m_text.substr(0, static_cast<size_t>(selStart)) + c +
                           m_text.substr(static_cast<size_t>(std::min<int>(selEnd, static_cast<int>(m_text.size()))));
        if (m_editLimit > 0 && static_cast<int>(next.size()) > m_editLimit) continue;
        m_text = std::move(next);
        m_caret = selStart + 1;
        Send(WM_COMMAND, MakeCommand(IDC_DELAY_EDIT, EN_UPDATE));
        Send(WM_COMMAND, MakeCommand(IDC_DELAY_EDIT, EN_CHANGE));
        selStart = selEnd = std::min<int>(m_caret, static_cast<int>(m_text.size()));
    }
    ShowDelay();
}

// One step of the slider and the end of the move, as an arrow key makes.
void CHeadlessHost::Nudge(int step) {
    m_sliderPos = std::clamp(m_sliderPos + step, m_sliderMin, m_sliderMax);
    Send(WM_HSCROLL, kTbEndTrack);
    ShowDelay();
}

void CHeadlessHost::ShowDelay() {
    std::fprintf(m_report, "%sDelay %s s\n", m_interactive && m_lastFill >= 0 ? "\n" : "", m_text.c_str());
    m_lastFill = -1;
}

void CHeadlessHost::ShowFill(int filledTenths) {
    const std::string total = m_text;
    const std::string filled = FormatDelayCount(static_cast<uint32_t>(filledTenths));
    const bool full = filled == total;
    if (m_interactive) {
        std::fprintf(m_report, "\rFilling: %s of %s s%s", filled.c_str(), total.c_str(),
                     full ? " - playing" : "          ");
        std::fflush(m_report);
    } else if (full || filledTenths % 10 == 0 || filledTenths == 1) {
        std::fprintf(m_report, "Filling: %s of %s s%s\n", filled.c_str(), total.c_str(),
                     full ? " - playing" : "");
        std::fflush(m_report);
    }
    m_lastFill = filledTenths;
}

}  // namespace morvane
