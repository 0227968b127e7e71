#pragma once
// The COM and OLE calls through which the tuner code makes its objects and
// opens the property frame. The program uses the system's; tests hand in
// their own to put fake devices behind them.

#include "ui/win32/win32_api.h"

#include <functional>

namespace morvane {

struct CComEntryPoints {
    // As CoCreateInstance.
    std::function<HRESULT(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object)> createInstance;
    // As OleCreatePropertyFrame.
    std::function<HRESULT(HWND owner, UINT x, UINT y, LPCOLESTR caption, ULONG objectCount, IUnknown** objects,
                          ULONG pageCount, CLSID* pageIds, LCID locale, DWORD reserved, void* reservedPointer)>
        createPropertyFrame;

    static CComEntryPoints System();
};

}  // namespace morvane
