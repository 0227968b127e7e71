#include "tuner/dshow/crossbar_route.h"

#include "tuner/dshow/com_ref.h"

namespace morvane {
namespace {

// The crossbar feeding `filter`: S_OK with it, or a failure.
HRESULT FindCrossbarUpstream(ICaptureGraphBuilder2* builder, IBaseFilter* filter, CComRef<IAMCrossbar>* crossbar) {
    const HRESULT hr =
        builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, filter, IID_IAMCrossbar, crossbar->PutVoid());
    if (FAILED(hr)) return hr;
    return *crossbar ? hr : E_FAIL;
}

}  // namespace

HRESULT RouteCrossbarAudio(ICaptureGraphBuilder2* builder, IBaseFilter* device) {
    // The builder finds the crossbar feeding the device and brings it into
    // the graph where the device needs one.
    CComRef<IAMCrossbar> first;
    HRESULT hr = FindCrossbarUpstream(builder, device, &first);
    if (FAILED(hr)) return hr;
    hr = RouteTunerToDecoder(first.Get());
    if (SUCCEEDED(hr)) return hr;

    // Some cards put the tuner on a second crossbar in front of the first.
    CComRef<IBaseFilter> firstFilter;
    hr = first->QueryInterface(IID_IBaseFilter, firstFilter.PutVoid());
    if (FAILED(hr)) return hr;
    if (!firstFilter) return E_FAIL;
    CComRef<IAMCrossbar> second;
    hr = FindCrossbarUpstream(builder, firstFilter.Get(), &second);
    firstFilter.Reset();
    if (FAILED(hr)) return hr;
    return RouteTunerToDecoder(second.Get());
}

HRESULT RouteTunerToDecoder(IAMCrossbar* crossbar) {
    LONG outputs = 0, inputs = 0;
    if (FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return E_FAIL;
    for (LONG output = 0; output < outputs; ++output) {
        LONG related = 0, type = 0;
        if (FAILED(crossbar->get_CrossbarPinInfo(FALSE, output, &related, &type)) ||
            type != PhysConn_Audio_AudioDecoder)
            continue;
        // Only the first decoder output is ever routed.
        LONG input = 0;
        if (FAILED(FindCrossbarPin(crossbar, PhysConn_Audio_Tuner, &input))) return E_FAIL;
        return crossbar->Route(output, input);
    }
    return E_FAIL;
}

HRESULT FindCrossbarPin(IAMCrossbar* crossbar, LONG physicalType, LONG* pinIndex) {
    LONG outputs = 0, inputs = 0;
    const HRESULT hr = crossbar->get_PinCounts(&outputs, &inputs);
    if (FAILED(hr)) return hr;
    for (LONG input = 0; input < inputs; ++input) {
        LONG related = 0, type = 0;
        if (SUCCEEDED(crossbar->get_CrossbarPinInfo(TRUE, input, &related, &type)) && type == physicalType) {
            *pinIndex = input;
            return S_OK;
        }
    }
    return E_FAIL;
}

}  // namespace morvane
