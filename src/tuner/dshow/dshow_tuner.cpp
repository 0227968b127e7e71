#include "tuner/dshow/dshow_tuner.h"

#include <utility>

#include "tuner/dshow/crossbar_route.h"

namespace morvane {
namespace {

constexpr UINT kFrameX = 30;
constexpr UINT kFrameY = 30;

// Hands each device of a category to `visit` in the enumerator's order; the
// device's moniker is released after its turn.
template <class Visit>
void ForEachDevice(IEnumMoniker* devices, Visit visit) {
    for (;;) {
        CComRef<IMoniker> device;
        ULONG fetched = 0;
        if (devices->Next(1, device.Put(), &fetched) != S_OK || !device) return;
        visit(device.Get());
    }
}

}  // namespace

CComEntryPoints CComEntryPoints::System() {
    return {::CoCreateInstance, ::OleCreatePropertyFrame};
}

CDShowTuner::CDShowTuner(std::function<HWND()> ownerWindow, CComEntryPoints com)
    : m_ownerWindow(std::move(ownerWindow)), m_com(std::move(com)) {}

CComRef<ICreateDevEnum> CDShowTuner::MakeDeviceEnumerator() const {
    CComRef<ICreateDevEnum> enumerator;
    if (FAILED(m_com.createInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum,
                                    enumerator.PutVoid())))
        enumerator.Reset();
    return enumerator;
}

void CDShowTuner::BuildTunerGraph() {
    // The graph and its builder are never released: the devices stay in the
    // graph, routed, until the process ends. Without either there is
    // nothing to build on.
    IGraphBuilder* graph = nullptr;
    if (FAILED(m_com.createInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    reinterpret_cast<void**>(&graph))) ||
        graph == nullptr)
        return;
    ICaptureGraphBuilder2* builder = nullptr;
    if (FAILED(m_com.createInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder))) ||
        builder == nullptr)
        return;
    builder->SetFiltergraph(graph);

    const CComRef<ICreateDevEnum> enumerator = MakeDeviceEnumerator();
    if (!enumerator) return;
    // An empty category answers S_FALSE and no enumerator.
    CComRef<IEnumMoniker> devices;
    if (FAILED(enumerator->CreateClassEnumerator(AM_KSCATEGORY_CAPTURE, devices.Put(), 0)) || !devices) return;

    ForEachDevice(devices.Get(), [&](IMoniker* device) {
        CComRef<IPropertyBag> bag;
        if (FAILED(device->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) return;
        CComRef<IBaseFilter> filter;
        if (FAILED(device->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid())) || !filter) return;
        // Every device under the same name: the graph's duplicate-name
        // answer is a success.
        if (FAILED(graph->AddFilter(filter.Get(), L"Capture"))) return;
        RouteCrossbarAudio(builder, filter.Get());
    });
}

int CDShowTuner::ShowTunerPages(IDialogHost&) {
    const CComRef<ICreateDevEnum> enumerator = MakeDeviceEnumerator();
    if (!enumerator) return 0;
    CComRef<IEnumMoniker> devices;
    if (enumerator->CreateClassEnumerator(AM_KSCATEGORY_TVTUNER, devices.Put(), 0) != S_OK || !devices) return 0;

    int found = 0;
    ForEachDevice(devices.Get(), [&](IMoniker* device) {
        ++found;
        CComRef<IPropertyBag> bag;
        if (FAILED(device->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) return;
        // Bound on every click, but asked for its tuner only while none is
        // held: the pages always show the first tuner that answered.
        CComRef<IBaseFilter> filter;
        device->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid());
        if (!m_pTVTuner && filter) filter->QueryInterface(IID_IAMTVTuner, m_pTVTuner.PutVoid());
        if (!m_pTVTuner) return;
        m_pTVTuner->put_Mode(AMTUNER_MODE_FM_RADIO);
        ShowPropertyFrame();
    });
    return found;
}

// Modal: returns when the user closes the frame.
void CDShowTuner::ShowPropertyFrame() {
    CComRef<ISpecifyPropertyPages> pages;
    if (m_pTVTuner->QueryInterface(IID_ISpecifyPropertyPages, pages.PutVoid()) != S_OK || !pages) return;
    CAUUID ids{};
    if (SUCCEEDED(pages->GetPages(&ids))) {
        IUnknown* objects[] = {m_pTVTuner.Get()};
        m_com.createPropertyFrame(m_ownerWindow(), kFrameX, kFrameY, nullptr, 1, objects, ids.cElems, ids.pElems,
                                  0, 0, nullptr);
    }
    ::CoTaskMemFree(ids.pElems);
}

}  // namespace morvane
