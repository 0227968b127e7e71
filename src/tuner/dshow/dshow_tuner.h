#pragma once
// The tuner side on Windows, through DirectShow: on the first Play every
// capture device goes into a graph, with its crossbars routing the tuner's
// sound to the card's audio output; the Tuner button puts the first TV tuner
// into FM radio mode and opens its property pages, where the station is
// chosen.

#include "ui/win32/win32_api.h"

#include <dshow.h>

#include <functional>

#include "tuner/dshow/com_entry_points.h"
#include "tuner/dshow/com_ref.h"
#include "tuner/tuner.h"

namespace morvane {

class CDShowTuner final : public ITuner {
public:
    // `ownerWindow` gives the main window, which owns the property frame.
    explicit CDShowTuner(std::function<HWND()> ownerWindow, CComEntryPoints com = CComEntryPoints::System());

    void BuildTunerGraph() override;
    int ShowTunerPages(IDialogHost& owner) override;
    void ReleaseTuner() override { m_pTVTuner.Reset(); }

private:
    CComRef<ICreateDevEnum> MakeDeviceEnumerator() const;
    void ShowPropertyFrame();

    std::function<HWND()> m_ownerWindow;
    CComEntryPoints m_com;
    // The first tuner that answered, reused by every later click.
    CComRef<IAMTVTuner> m_pTVTuner;
};

}  // namespace morvane
