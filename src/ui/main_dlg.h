#pragma once
// The main window's logic: initialisation, message map, Mixer and Exit. It
// owns the recorder, the player and the delay engine.

#include <cstdint>

#include "audio/voice_playing.h"
#include "audio/voice_recording.h"
#include "engine/delay_engine.h"
#include "tuner/tuner.h"
#include "ui/dialog_host.h"

namespace morvane {

// The volume control programs the Mixer button tries, in order.
struct MixerPrograms {
    const char* first;
    const char* fallback;
    const char* parameters;
};
MixerPrograms PlatformMixerPrograms();

class CMainDlg : public IDialogHandler {
public:
    CMainDlg(IWaveApi& wave, IDialogHost& host, ITuner& tuner);
    ~CMainDlg();
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    intptr_t HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool* handled) override;

    // The Play operation, also run directly for -play.
    void Play() { m_engine.Play(); }

    CDelayEngine& Engine() { return m_engine; }
    CVoiceRecording& Recorder() { return m_recorder; }
    CVoicePlaying& Player() { return m_player; }

private:
    intptr_t OnInitDialog();
    intptr_t OnCommand(int id, uint32_t code);
    intptr_t OnTuner();
    void FillDeviceList(int listId, bool capture);
    void SelectFromOption(int listId, const char* option);
    void ReportDefaultDevice(bool capture, int index);
    void OnMixer();
    void OnExit(int id);

    IWaveApi& m_wave;
    IDialogHost& m_host;
    ITuner& m_tuner;
    CVoiceRecording m_recorder;
    CVoicePlaying m_player;
    CDelayEngine m_engine;
};

}  // namespace morvane
