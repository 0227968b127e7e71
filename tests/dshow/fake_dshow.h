#pragma once
// Fake DirectShow devices for the tuner code: a device enumerator with a
// capture and a TV tuner category, monikers, filters (with a TV tuner and
// property pages where wanted), a graph, a capture graph builder whose
// upstream search answers with the crossbars a test gives it, and crossbars
// with pin tables. Every fake counts its references (the test holds one),
// and the calls that matter land in one log, in order.

#include "ui/win32/win32_api.h"

#include <dshow.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tuner/dshow/com_entry_points.h"

namespace morvane::fake {

// What the fakes were asked, in order: "add cam Capture", "mode tuner 2".
std::vector<std::string>& Log();

class CFakeBase {
public:
    explicit CFakeBase(std::string name);
    virtual ~CFakeBase();
    CFakeBase(const CFakeBase&) = delete;
    CFakeBase& operator=(const CFakeBase&) = delete;

    virtual IUnknown* Unknown() = 0;
    // Every fake that exists now.
    static std::vector<CFakeBase*>& Live();
    // The name of the fake behind any of its interfaces.
    static std::string NameOf(IUnknown* object);

    const std::string name;
    long refs = 1;  // the test's own
};

template <class... Interfaces>
class CFake : public CFakeBase, public Interfaces... {
public:
    using CFakeBase::CFakeBase;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = Find(iid);
        if (*out == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    IUnknown* Unknown() override { return static_cast<IUnknown*>(Find(IID_IUnknown)); }

protected:
    virtual void* Find(REFIID iid) = 0;
};

void ReportOverRelease(const std::string& name);

template <class... Interfaces>
ULONG CFake<Interfaces...>::Release() {
    if (refs <= 1) ReportOverRelease(name);
    return static_cast<ULONG>(--refs);
}

#define MORVANE_FAKE_UNUSED(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_NOTIMPL; }

// The methods of a filter that the tuner code never calls.
class CUnusedFilter : public IBaseFilter {
public:
    MORVANE_FAKE_UNUSED(GetClassID, CLSID*)
    MORVANE_FAKE_UNUSED(Stop)
    MORVANE_FAKE_UNUSED(Pause)
    MORVANE_FAKE_UNUSED(Run, REFERENCE_TIME)
    MORVANE_FAKE_UNUSED(GetState, DWORD, FILTER_STATE*)
    MORVANE_FAKE_UNUSED(SetSyncSource, IReferenceClock*)
    MORVANE_FAKE_UNUSED(GetSyncSource, IReferenceClock**)
    MORVANE_FAKE_UNUSED(EnumPins, IEnumPins**)
    MORVANE_FAKE_UNUSED(FindPin, LPCWSTR, IPin**)
    MORVANE_FAKE_UNUSED(QueryFilterInfo, FILTER_INFO*)
    MORVANE_FAKE_UNUSED(JoinFilterGraph, IFilterGraph*, LPCWSTR)
    MORVANE_FAKE_UNUSED(QueryVendorInfo, LPWSTR*)
};

// The methods of a TV tuner other than put_Mode.
class CUnusedTVTuner : public IAMTVTuner {
public:
    MORVANE_FAKE_UNUSED(put_Channel, LONG, LONG, LONG)
    MORVANE_FAKE_UNUSED(get_Channel, LONG*, LONG*, LONG*)
    MORVANE_FAKE_UNUSED(ChannelMinMax, LONG*, LONG*)
    MORVANE_FAKE_UNUSED(put_CountryCode, LONG)
    MORVANE_FAKE_UNUSED(get_CountryCode, LONG*)
    MORVANE_FAKE_UNUSED(put_TuningSpace, LONG)
    MORVANE_FAKE_UNUSED(get_TuningSpace, LONG*)
    MORVANE_FAKE_UNUSED(Logon, HANDLE)
    MORVANE_FAKE_UNUSED(Logout)
    MORVANE_FAKE_UNUSED(SignalPresent, LONG*)
    MORVANE_FAKE_UNUSED(get_Mode, AMTunerModeType*)
    MORVANE_FAKE_UNUSED(GetAvailableModes, LONG*)
    MORVANE_FAKE_UNUSED(RegisterNotificationCallBack, IAMTunerNotification*, LONG)
    MORVANE_FAKE_UNUSED(UnRegisterNotificationCallBack, IAMTunerNotification*)
    MORVANE_FAKE_UNUSED(get_AvailableTVFormats, LONG*)
    MORVANE_FAKE_UNUSED(get_TVFormat, LONG*)
    MORVANE_FAKE_UNUSED(AutoTune, LONG, LONG*)
    MORVANE_FAKE_UNUSED(StoreAutoTune)
    MORVANE_FAKE_UNUSED(get_NumInputConnections, LONG*)
    MORVANE_FAKE_UNUSED(put_InputType, LONG, TunerInputType)
    MORVANE_FAKE_UNUSED(get_InputType, LONG, TunerInputType*)
    MORVANE_FAKE_UNUSED(put_ConnectInput, LONG)
    MORVANE_FAKE_UNUSED(get_ConnectInput, LONG*)
    MORVANE_FAKE_UNUSED(get_VideoFrequency, LONG*)
    MORVANE_FAKE_UNUSED(get_AudioFrequency, LONG*)
};

// A device's filter; a TV tuner when `tuner` is set, with property pages
// when `pages` is set.
class CFakeFilter final : public CFake<CUnusedFilter, CUnusedTVTuner, ISpecifyPropertyPages> {
public:
    using CFake::CFake;
    IBaseFilter* AsFilter() { return this; }

    bool tuner = false;
    bool pages = false;
    HRESULT pagesResult = S_OK;
    std::vector<CLSID> pageIds;

    HRESULT STDMETHODCALLTYPE put_Mode(AMTunerModeType mode) override;
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* ids) override;

protected:
    void* Find(REFIID iid) override;
};

class CFakePropertyBag final : public CFake<IPropertyBag> {
public:
    using CFake::CFake;
    MORVANE_FAKE_UNUSED(Read, LPCOLESTR, VARIANT*, IErrorLog*)
    MORVANE_FAKE_UNUSED(Write, LPCOLESTR, VARIANT*)

protected:
    void* Find(REFIID iid) override;
};

// One device of a category: binds to its property bag and its filter.
class CFakeMoniker final : public CFake<IMoniker> {
public:
    CFakeMoniker(std::string name, CFakeFilter* filter);

    CFakeFilter* filter;
    CFakePropertyBag bag;
    HRESULT bagResult = S_OK;
    HRESULT filterResult = S_OK;

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** out) override;
    MORVANE_FAKE_UNUSED(GetClassID, CLSID*)
    MORVANE_FAKE_UNUSED(IsDirty)
    MORVANE_FAKE_UNUSED(Load, IStream*)
    MORVANE_FAKE_UNUSED(Save, IStream*, WINBOOL)
    MORVANE_FAKE_UNUSED(GetSizeMax, ULARGE_INTEGER*)
    MORVANE_FAKE_UNUSED(Reduce, IBindCtx*, DWORD, IMoniker**, IMoniker**)
    MORVANE_FAKE_UNUSED(ComposeWith, IMoniker*, WINBOOL, IMoniker**)
    MORVANE_FAKE_UNUSED(Enum, WINBOOL, IEnumMoniker**)
    MORVANE_FAKE_UNUSED(IsEqual, IMoniker*)
    MORVANE_FAKE_UNUSED(Hash, DWORD*)
    MORVANE_FAKE_UNUSED(IsRunning, IBindCtx*, IMoniker*, IMoniker*)
    MORVANE_FAKE_UNUSED(GetTimeOfLastChange, IBindCtx*, IMoniker*, FILETIME*)
    MORVANE_FAKE_UNUSED(Inverse, IMoniker**)
    MORVANE_FAKE_UNUSED(CommonPrefixWith, IMoniker*, IMoniker**)
    MORVANE_FAKE_UNUSED(RelativePathTo, IMoniker*, IMoniker**)
    MORVANE_FAKE_UNUSED(GetDisplayName, IBindCtx*, IMoniker*, LPOLESTR*)
    MORVANE_FAKE_UNUSED(ParseDisplayName, IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**)
    MORVANE_FAKE_UNUSED(IsSystemMoniker, DWORD*)

protected:
    void* Find(REFIID iid) override;
};

class CFakeEnumMoniker final : public CFake<IEnumMoniker> {
public:
    CFakeEnumMoniker(std::string name, std::vector<CFakeMoniker*> devices);

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** out, ULONG* fetched) override;
    MORVANE_FAKE_UNUSED(Skip, ULONG)
    MORVANE_FAKE_UNUSED(Reset)
    MORVANE_FAKE_UNUSED(Clone, IEnumMoniker**)

protected:
    void* Find(REFIID iid) override;

private:
    std::vector<CFakeMoniker*> m_devices;
    size_t m_next = 0;
};

// A device category as the enumerator answers for it: S_OK with its
// devices, or S_FALSE and no enumerator when it has none, unless told
// otherwise.
struct Category {
    std::vector<CFakeMoniker*> devices;
    std::optional<HRESULT> result;
    bool withoutEnumerator = false;
};

class CFakeDevEnum final : public CFake<ICreateDevEnum> {
public:
    using CFake::CFake;
    Category capture, tuners;

    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) override;

protected:
    void* Find(REFIID iid) override;

private:
    std::vector<std::unique_ptr<CFakeEnumMoniker>> m_made;
};

class CFakeGraph final : public CFake<IGraphBuilder> {
public:
    using CFake::CFake;
    // Answers of AddFilter other than S_OK, by filter.
    std::map<IBaseFilter*, HRESULT> addResults;
    // The filters it holds, in the order they were added.
    std::vector<IBaseFilter*> held;

    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    MORVANE_FAKE_UNUSED(RemoveFilter, IBaseFilter*)
    MORVANE_FAKE_UNUSED(EnumFilters, IEnumFilters**)
    MORVANE_FAKE_UNUSED(FindFilterByName, LPCWSTR, IBaseFilter**)
    MORVANE_FAKE_UNUSED(ConnectDirect, IPin*, IPin*, const AM_MEDIA_TYPE*)
    MORVANE_FAKE_UNUSED(Reconnect, IPin*)
    MORVANE_FAKE_UNUSED(Disconnect, IPin*)
    MORVANE_FAKE_UNUSED(SetDefaultSyncSource)
    MORVANE_FAKE_UNUSED(Connect, IPin*, IPin*)
    MORVANE_FAKE_UNUSED(Render, IPin*)
    MORVANE_FAKE_UNUSED(RenderFile, LPCWSTR, LPCWSTR)
    MORVANE_FAKE_UNUSED(AddSourceFilter, LPCWSTR, LPCWSTR, IBaseFilter**)
    MORVANE_FAKE_UNUSED(SetLogFile, DWORD_PTR)
    MORVANE_FAKE_UNUSED(Abort)
    MORVANE_FAKE_UNUSED(ShouldOperationContinue)

protected:
    void* Find(REFIID iid) override;
};

// A crossbar with its pin tables; also a filter, through which the one
// upstream of it is found.
class CFakeCrossbar final : public CFake<CUnusedFilter, IAMCrossbar> {
public:
    struct Pin {
        LONG type;
        HRESULT infoResult = S_OK;
    };
    using CFake::CFake;
    IBaseFilter* AsFilter() { return this; }

    std::vector<Pin> outputs, inputs;
    HRESULT pinCountsResult = S_OK;
    HRESULT routeResult = S_OK;
    bool answersFilter = true;

    HRESULT STDMETHODCALLTYPE get_PinCounts(LONG* outputCount, LONG* inputCount) override;
    HRESULT STDMETHODCALLTYPE Route(LONG output, LONG input) override;
    HRESULT STDMETHODCALLTYPE get_CrossbarPinInfo(WINBOOL isInput, LONG index, LONG* related, LONG* type) override;
    MORVANE_FAKE_UNUSED(CanRoute, LONG, LONG)
    MORVANE_FAKE_UNUSED(get_IsRoutedTo, LONG, LONG*)

protected:
    void* Find(REFIID iid) override;
};

// Its upstream search answers with the crossbar given for a filter.
class CFakeBuilder final : public CFake<ICaptureGraphBuilder2> {
public:
    using CFake::CFake;
    std::map<IBaseFilter*, CFakeCrossbar*> upstream;

    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) override;
    HRESULT STDMETHODCALLTYPE FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                                            void** out) override;
    MORVANE_FAKE_UNUSED(GetFiltergraph, IGraphBuilder**)
    MORVANE_FAKE_UNUSED(SetOutputFileName, const GUID*, LPCOLESTR, IBaseFilter**, IFileSinkFilter**)
    MORVANE_FAKE_UNUSED(RenderStream, const GUID*, const GUID*, IUnknown*, IBaseFilter*, IBaseFilter*)
    MORVANE_FAKE_UNUSED(ControlStream, const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*, WORD,
                        WORD)
    MORVANE_FAKE_UNUSED(AllocCapFile, LPCOLESTR, DWORDLONG)
    MORVANE_FAKE_UNUSED(CopyCaptureFile, LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*)
    MORVANE_FAKE_UNUSED(FindPin, IUnknown*, PIN_DIRECTION, const GUID*, const GUID*, WINBOOL, int, IPin**)

protected:
    void* Find(REFIID iid) override;
};

#undef MORVANE_FAKE_UNUSED

// One opened property frame, as the tuner code asked for it.
struct Frame {
    HWND owner;
    UINT x, y;
    bool withCaption;
    ULONG objectCount;
    IUnknown* object;
    std::vector<CLSID> pages;
};

// The system as the tuner code sees it: the three objects it makes, the
// devices in their categories and the property frames it opened.
class CFakeSystem {
public:
    CFakeSystem();
    ~CFakeSystem();

    // The entry points that make these fakes and open frames here.
    CComEntryPoints EntryPoints();
    // The main window as the frames' owner.
    static HWND Owner() { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x1234)); }

    CFakeMoniker& AddCaptureDevice(const std::string& name);
    CFakeMoniker& AddTuner(const std::string& name, bool withPages = true);
    // A crossbar upstream of `filter` with an audio decoder output and,
    // with `tunerInput`, an audio tuner input.
    CFakeCrossbar& AddCrossbar(const std::string& name, IBaseFilter* below, bool tunerInput);

    // What CoCreateInstance answers for a class (S_OK unless set).
    std::map<std::string, HRESULT> createResults;  // "graph", "builder", "enumerator"
    // The objects made, as "graph", "builder", "enumerator", in order.
    std::vector<std::string> made;
    std::vector<Frame> frames;

    // Each fake is back to the test's own reference, except the graph and
    // the builder, which the code keeps once made, the filters the graph
    // holds, and those in `held` with the number of references the code
    // still has on them.
    void ExpectReferencesReleased(const std::map<const CFakeBase*, long>& held = {}) const;

    CFakeDevEnum enumerator{"enumerator"};
    CFakeGraph graph{"graph"};
    CFakeBuilder builder{"builder"};

private:
    std::vector<std::unique_ptr<CFakeFilter>> m_filters;
    std::vector<std::unique_ptr<CFakeMoniker>> m_devices;
    std::vector<std::unique_ptr<CFakeCrossbar>> m_crossbars;
};

}  // namespace morvane::fake
