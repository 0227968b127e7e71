#include "ui/main_dlg.h"

#include <cstdio>
#include <string>

#include "app/options.h"
#include "resource.h"

namespace morvane {
namespace {
constexpr int kMeters[] = {IDC_INPUT_LEFT, IDC_INPUT_RIGHT, IDC_OUTPUT_LEFT, IDC_OUTPUT_RIGHT};
constexpr intptr_t kFileNotFound = 2;
}  // namespace

MixerPrograms PlatformMixerPrograms() {
#ifdef _WIN32
    return {"sndvol32.exe", "sndvol.exe", "-R"};
#else
    return {"pavucontrol", "pavucontrol-qt", ""};
#endif
}

CMainDlg::CMainDlg(IWaveApi& wave, IDialogHost& host, ITuner& tuner)
    : m_wave(wave),
      m_host(host),
      m_tuner(tuner),
      m_recorder(wave),
      m_player(wave),
      m_engine(m_recorder, m_player, host, host.WaveWindow()) {
    m_engine.SetTunerGraphBuilder([this] { m_tuner.BuildTunerGraph(); });
}

// The held tuner goes first; the player and then the recorder follow as
// members.
CMainDlg::~CMainDlg() { m_tuner.ReleaseTuner(); }

intptr_t CMainDlg::HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool* handled) {
    *handled = true;
    switch (msg) {
        case WM_HSCROLL:
            m_engine.OnHScroll(static_cast<uint32_t>(wParam));
            return 1;
        case WM_INITDIALOG:
            return OnInitDialog();
        case MM_WOM_DONE:
            m_engine.OnWomDone(reinterpret_cast<WAVEHDR*>(lParam));
            return 1;
        case MM_WIM_DATA:
            m_engine.OnWimData(reinterpret_cast<WAVEHDR*>(lParam));
            return 1;
        case WM_COMMAND:
            return OnCommand(static_cast<int>(wParam & 0xFFFFu),
                             static_cast<uint32_t>((wParam >> 16) & 0xFFFFu));
        default:
            *handled = false;
            return 0;
    }
}

intptr_t CMainDlg::OnCommand(int id, uint32_t code) {
    switch (id) {
        case ID_APP_ABOUT:
            m_host.RunAboutBox();
            return 0;
        case IDCANCEL:
            OnExit(id);
            return 0;
        case IDC_PLAY:
            if (code == BN_CLICKED) m_engine.Play();
            return 0;
        case IDC_STOP:
            if (code == BN_CLICKED) m_engine.Stop();
            return 0;
        case IDC_INPUT_DEVICE:
            if (code == CBN_SELCHANGE) m_engine.OnInputSelChange();
            return 0;
        case IDC_OUTPUT_DEVICE:
            if (code == CBN_SELCHANGE) m_engine.OnOutputSelChange();
            return 0;
        case IDC_MIXER:
            if (code == BN_CLICKED) OnMixer();
            return 0;
        case IDC_DELAY_EDIT:
            if (code == EN_UPDATE) m_engine.OnDelayUpdate();
            return 0;  // EN_CHANGE: consumed, nothing to do
        case IDC_TUNER:
            return code == BN_CLICKED ? OnTuner() : 0;
        default:
            return 0;
    }
}

intptr_t CMainDlg::OnTuner() {
    if (m_tuner.ShowTunerPages(m_host) == 0) m_host.MessageBox("Sorry, no tuner found", "Error");
    return 0;
}

intptr_t CMainDlg::OnInitDialog() {
    m_host.CenterWindow();
    m_engine.SetInputDevice(0);
    m_engine.SetOutputDevice(0);
    m_host.SetWindowIcons(IDR_MAINFRAME);

    FillDeviceList(IDC_INPUT_DEVICE, true);
    SelectFromOption(IDC_INPUT_DEVICE, "-in");
    m_engine.OnInputSelChange();
    FillDeviceList(IDC_OUTPUT_DEVICE, false);
    SelectFromOption(IDC_OUTPUT_DEVICE, "-out");
    m_engine.OnOutputSelChange();

    m_engine.Preset();
    m_engine.SetSmooth(GetOptionValue("-smooth") != nullptr);
    m_host.TrackbarSetRange(IDC_DELAY_SLIDER, 1, 299, true);
    m_host.TrackbarSetSelStart(IDC_DELAY_SLIDER, 0, false);
    m_host.EditLimitText(IDC_DELAY_EDIT, 4);

    const char* delay = GetOptionValue("-delay");
    m_host.SetText(IDC_DELAY_EDIT, std::string("0") + (delay != nullptr ? delay : "1.0"));
    m_engine.OnDelayUpdate();

    for (int meter : kMeters) m_host.ProgressSetRange(meter, 0, 32767);
    m_host.ButtonSetIcon(IDC_PLAY, IDI_PLAY);
    m_host.ButtonSetIcon(IDC_STOP, IDI_STOP);
    m_host.ButtonSetCheck(IDC_STOP, true);

    m_recorder.SetFormat(44100, 16, 2);
    m_player.SetFormat(44100, 16, 2);
    return 1;
}

void CMainDlg::FillDeviceList(int listId, bool capture) {
    // Entry i is device i: a device whose name cannot be had gets an empty
    // entry. The count is asked anew each time round.
    for (uint32_t i = 0; i < (capture ? m_wave.waveInGetNumDevs() : m_wave.waveOutGetNumDevs()); ++i) {
        std::string name;
        if (capture)
            m_wave.waveInGetDevName(i, &name);
        else
            m_wave.waveOutGetDevName(i, &name);
        m_host.ComboAddString(listId, name);
    }
}

void CMainDlg::SelectFromOption(int listId, const char* option) {
    const char* value = GetOptionValue(option);
    const int index = value != nullptr ? ParseDeviceIndex(value) : 0;
    m_host.ComboSetCurSel(listId, index);
    if (value != nullptr && (index < 0 || m_host.ComboGetCurSel(listId) != index))
        ReportDefaultDevice(listId == IDC_INPUT_DEVICE, index);
}

// An index beyond the list leaves it without a selection and Play opens the
// system's default device: say which one plays, so that a wrong number is
// not taken for a working choice.
void CMainDlg::ReportDefaultDevice(bool capture, int index) {
    std::string name;
    const MMRESULT r = capture ? m_wave.waveInGetDevName(WAVE_MAPPER, &name)
                               : m_wave.waveOutGetDevName(WAVE_MAPPER, &name);
    const char* kind = capture ? "input" : "output";
    std::fprintf(stderr, "morvane: there is no %s device %d (see --list-devices); the default %s device plays%s%s\n",
                 kind, index, kind, r == MMSYSERR_NOERROR && !name.empty() ? ": " : "",
                 r == MMSYSERR_NOERROR ? name.c_str() : "");
}

void CMainDlg::OnMixer() {
    const MixerPrograms mixer = PlatformMixerPrograms();
    if (m_host.ShellExecute(mixer.first, mixer.parameters) == kFileNotFound)
        m_host.ShellExecute(mixer.fallback, mixer.parameters);
}

void CMainDlg::OnExit(int id) {
    m_recorder.Close();
    m_player.Close();
    for (uint32_t i = 0; i < m_engine.DelayCount(); ++i) {
        m_recorder.UnprepareBuffer(i);
        m_player.UnprepareBuffer(i);
    }
    m_host.DestroyWindow();
    m_host.PostQuitMessage(id);
}

}  // namespace morvane
