#include "fake_dshow.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace morvane::fake {
namespace {

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
    return out;
}

// The object handed out through `out` as `iid`, with a reference for the
// caller, or the failure with nothing.
HRESULT HandOut(CFakeBase* object, HRESULT result, REFIID iid, void** out) {
    *out = nullptr;
    if (FAILED(result)) return result;
    return object->Unknown()->QueryInterface(iid, out);
}

}  // namespace

std::vector<std::string>& Log() {
    static std::vector<std::string> log;
    return log;
}

CFakeBase::CFakeBase(std::string n) : name(std::move(n)) { Live().push_back(this); }

CFakeBase::~CFakeBase() {
    auto& live = Live();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

std::vector<CFakeBase*>& CFakeBase::Live() {
    static std::vector<CFakeBase*> live;
    return live;
}

std::string CFakeBase::NameOf(IUnknown* object) {
    const auto* fake = dynamic_cast<CFakeBase*>(object);
    return fake != nullptr ? fake->name : "(none)";
}

void ReportOverRelease(const std::string& name) { ADD_FAILURE() << name << " released more often than referenced"; }

// Filters

void* CFakeFilter::Find(REFIID iid) {
    if (iid == IID_IUnknown || iid == IID_IBaseFilter) return AsFilter();
    if (iid == IID_IAMTVTuner) {
        Log().push_back("ask tuner " + name);
        return tuner ? static_cast<IAMTVTuner*>(this) : nullptr;
    }
    if (iid == IID_ISpecifyPropertyPages) return pages ? static_cast<ISpecifyPropertyPages*>(this) : nullptr;
    return nullptr;
}

HRESULT CFakeFilter::put_Mode(AMTunerModeType mode) {
    Log().push_back("mode " + name + " " + std::to_string(mode));
    return S_OK;
}

HRESULT CFakeFilter::GetPages(CAUUID* ids) {
    if (FAILED(pagesResult)) return pagesResult;
    ids->cElems = static_cast<ULONG>(pageIds.size());
    ids->pElems = static_cast<GUID*>(::CoTaskMemAlloc(sizeof(GUID) * pageIds.size()));
    std::copy(pageIds.begin(), pageIds.end(), ids->pElems);
    return S_OK;
}

void* CFakePropertyBag::Find(REFIID iid) {
    return iid == IID_IUnknown || iid == IID_IPropertyBag ? static_cast<IPropertyBag*>(this) : nullptr;
}

// Devices and their enumeration

CFakeMoniker::CFakeMoniker(std::string n, CFakeFilter* f) : CFake(std::move(n)), filter(f), bag("bag of " + name) {}

void* CFakeMoniker::Find(REFIID iid) {
    return iid == IID_IUnknown || iid == IID_IMoniker ? static_cast<IMoniker*>(this) : nullptr;
}

HRESULT CFakeMoniker::BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** out) {
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(left, nullptr);
    EXPECT_TRUE(iid == IID_IPropertyBag) << "storage asked of " << name;
    Log().push_back("bag " + name);
    return HandOut(&bag, bagResult, iid, out);
}

HRESULT CFakeMoniker::BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** out) {
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(left, nullptr);
    EXPECT_TRUE(iid == IID_IBaseFilter) << "object asked of " << name;
    Log().push_back("bind " + name);
    return HandOut(filter, filterResult, iid, out);
}

CFakeEnumMoniker::CFakeEnumMoniker(std::string n, std::vector<CFakeMoniker*> devices)
    : CFake(std::move(n)), m_devices(std::move(devices)) {}

void* CFakeEnumMoniker::Find(REFIID iid) {
    return iid == IID_IUnknown || iid == IID_IEnumMoniker ? static_cast<IEnumMoniker*>(this) : nullptr;
}

HRESULT CFakeEnumMoniker::Next(ULONG count, IMoniker** out, ULONG* fetched) {
    EXPECT_EQ(count, 1u);
    if (m_next == m_devices.size()) {
        *out = nullptr;
        if (fetched != nullptr) *fetched = 0;
        return S_FALSE;
    }
    *out = m_devices[m_next++];
    (*out)->AddRef();
    if (fetched != nullptr) *fetched = 1;
    return S_OK;
}

void* CFakeDevEnum::Find(REFIID iid) {
    return iid == IID_IUnknown || iid == IID_ICreateDevEnum ? static_cast<ICreateDevEnum*>(this) : nullptr;
}

HRESULT CFakeDevEnum::CreateClassEnumerator(REFCLSID which, IEnumMoniker** out, DWORD flags) {
    EXPECT_EQ(flags, 0u);
    *out = nullptr;
    const bool isCapture = which == AM_KSCATEGORY_CAPTURE;
    EXPECT_TRUE(isCapture || which == AM_KSCATEGORY_TVTUNER) << "an unknown category";
    const Category& category = isCapture ? capture : tuners;
    const std::string categoryName = isCapture ? "capture" : "tuners";
    Log().push_back("enumerate " + categoryName);
    const HRESULT result = category.result.value_or(category.devices.empty() ? S_FALSE : S_OK);
    if (result != S_OK || category.withoutEnumerator) return result;
    m_made.push_back(std::make_unique<CFakeEnumMoniker>(categoryName + " enumerator", category.devices));
    return HandOut(m_made.back().get(), S_OK, IID_IEnumMoniker, reinterpret_cast<void**>(out));
}

// The graph, its builder and the crossbars

void* CFakeGraph::Find(REFIID iid) {
    return iid == IID_IUnknown || iid == IID_IFilterGraph || iid == IID_IGraphBuilder ? static_cast<IGraphBuilder*>(this)
                                                                                       : nullptr;
}

HRESULT CFakeGraph::AddFilter(IBaseFilter* filter, LPCWSTR filterName) {
    Log().push_back("add " + NameOf(filter) + " as " + Narrow(filterName));
    const auto answer = addResults.find(filter);
    const HRESULT result = answer != addResults.end() ? answer->second : S_OK;
    if (SUCCEEDED(result)) {
        // A graph keeps its filters.
        filter->AddRef();
        held.push_back(filter);
    }
    return result;
}

void* CFakeCrossbar::Find(REFIID iid) {
    if (iid == IID_IUnknown || iid == IID_IAMCrossbar) return static_cast<IAMCrossbar*>(this);
    if (iid == IID_IBaseFilter && answersFilter) return AsFilter();
    return nullptr;
}

HRESULT CFakeCrossbar::get_PinCounts(LONG* outputCount, LONG* inputCount) {
    if (FAILED(pinCountsResult)) return pinCountsResult;
    *outputCount = static_cast<LONG>(outputs.size());
    *inputCount = static_cast<LONG>(inputs.size());
    return S_OK;
}

HRESULT CFakeCrossbar::get_CrossbarPinInfo(WINBOOL isInput, LONG index, LONG* related, LONG* type) {
    const auto& pins = isInput ? inputs : outputs;
    EXPECT_GE(index, 0);
    EXPECT_LT(index, static_cast<LONG>(pins.size())) << name << (isInput ? " input" : " output");
    if (index < 0 || index >= static_cast<LONG>(pins.size())) return E_INVALIDARG;
    if (FAILED(pins[index].infoResult)) return pins[index].infoResult;
    *related = -1;
    *type = pins[index].type;
    return S_OK;
}

HRESULT CFakeCrossbar::Route(LONG output, LONG input) {
    Log().push_back("route " + name + " " + std::to_string(output) + "->" + std::to_string(input));
    return routeResult;
}

void* CFakeBuilder::Find(REFIID iid) {
    return iid == IID_IUnknown || iid == IID_ICaptureGraphBuilder2 ? static_cast<ICaptureGraphBuilder2*>(this)
                                                                   : nullptr;
}

HRESULT CFakeBuilder::SetFiltergraph(IGraphBuilder* graph) {
    Log().push_back("builder on " + NameOf(graph));
    return S_OK;
}

HRESULT CFakeBuilder::FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                                    void** out) {
    EXPECT_TRUE(category != nullptr && *category == LOOK_UPSTREAM_ONLY) << "a search other than upstream";
    EXPECT_EQ(type, nullptr);
    EXPECT_TRUE(iid == IID_IAMCrossbar);
    Log().push_back("search above " + NameOf(filter));
    const auto found = upstream.find(filter);
    if (found == upstream.end()) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    return HandOut(found->second, S_OK, iid, out);
}

// The system

CFakeSystem::CFakeSystem() { Log().clear(); }
CFakeSystem::~CFakeSystem() = default;

CComEntryPoints CFakeSystem::EntryPoints() {
    CComEntryPoints entry;
    entry.createInstance = [this](REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out) {
        EXPECT_EQ(outer, nullptr);
        CFakeBase* object = nullptr;
        std::string what;
        if (clsid == CLSID_FilterGraph) {
            EXPECT_EQ(context, DWORD{CLSCTX_INPROC_SERVER});
            EXPECT_TRUE(iid == IID_IGraphBuilder);
            object = &graph, what = "graph";
        } else if (clsid == CLSID_CaptureGraphBuilder2) {
            EXPECT_EQ(context, DWORD{CLSCTX_INPROC_SERVER});
            EXPECT_TRUE(iid == IID_ICaptureGraphBuilder2);
            object = &builder, what = "builder";
        } else if (clsid == CLSID_SystemDeviceEnum) {
            EXPECT_EQ(context, DWORD{CLSCTX_ALL});
            EXPECT_TRUE(iid == IID_ICreateDevEnum);
            object = &enumerator, what = "enumerator";
        } else {
            ADD_FAILURE() << "an unknown class was made";
            *out = nullptr;
            return REGDB_E_CLASSNOTREG;
        }
        Log().push_back("make " + what);
        const auto answer = createResults.find(what);
        const HRESULT result = HandOut(object, answer != createResults.end() ? answer->second : S_OK, iid, out);
        if (SUCCEEDED(result)) made.push_back(what);
        return result;
    };
    entry.createPropertyFrame = [this](HWND owner, UINT x, UINT y, LPCOLESTR caption, ULONG objectCount,
                                       IUnknown** objects, ULONG pageCount, CLSID* pageIds, LCID locale,
                                       DWORD reserved, void* reservedPointer) {
        EXPECT_EQ(locale, 0u);
        EXPECT_EQ(reserved, 0u);
        EXPECT_EQ(reservedPointer, nullptr);
        IUnknown* object = objectCount > 0 ? objects[0] : nullptr;
        frames.push_back({owner, x, y, caption != nullptr, objectCount, object,
                          std::vector<CLSID>(pageIds, pageIds + pageCount)});
        Log().push_back("frame " + CFakeBase::NameOf(object));
        return S_OK;
    };
    return entry;
}

CFakeMoniker& CFakeSystem::AddCaptureDevice(const std::string& name) {
    m_filters.push_back(std::make_unique<CFakeFilter>(name));
    m_devices.push_back(std::make_unique<CFakeMoniker>(name + " device", m_filters.back().get()));
    enumerator.capture.devices.push_back(m_devices.back().get());
    return *m_devices.back();
}

CFakeMoniker& CFakeSystem::AddTuner(const std::string& name, bool withPages) {
    m_filters.push_back(std::make_unique<CFakeFilter>(name));
    CFakeFilter& filter = *m_filters.back();
    filter.tuner = true;
    filter.pages = withPages;
    filter.pageIds = {CLSID_SystemDeviceEnum, CLSID_FilterGraph};  // any two identifiers
    m_devices.push_back(std::make_unique<CFakeMoniker>(name + " device", &filter));
    enumerator.tuners.devices.push_back(m_devices.back().get());
    return *m_devices.back();
}

CFakeCrossbar& CFakeSystem::AddCrossbar(const std::string& name, IBaseFilter* below, bool tunerInput) {
    m_crossbars.push_back(std::make_unique<CFakeCrossbar>(name));
    CFakeCrossbar& crossbar = *m_crossbars.back();
    crossbar.outputs = {{PhysConn_Video_VideoDecoder}, {PhysConn_Audio_AudioDecoder}};
    crossbar.inputs = {{PhysConn_Video_Tuner}, {PhysConn_Audio_Line}};
    if (tunerInput) crossbar.inputs.push_back({PhysConn_Audio_Tuner});
    builder.upstream[below] = &crossbar;
    return crossbar;
}

void CFakeSystem::ExpectReferencesReleased(const std::map<const CFakeBase*, long>& held) const {
    for (const CFakeBase* fake : CFakeBase::Live()) {
        long expected = 1;
        if (const auto kept = held.find(fake); kept != held.end()) expected += kept->second;
        if (fake == &graph || fake == &builder) {
            const std::string what = fake == &graph ? "graph" : "builder";
            expected += std::count(made.begin(), made.end(), what);
        }
        for (IBaseFilter* filter : graph.held)
            if (dynamic_cast<const CFakeBase*>(filter) == fake) ++expected;
        EXPECT_EQ(fake->refs, expected) << "references on " << fake->name;
    }
}

}  // namespace morvane::fake
