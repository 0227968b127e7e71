#pragma once
// One owned reference to a COM interface: released when it goes, so that no
// path through the tuner code can forget a Release or call one on nothing.

#include <unknwn.h>

#include <utility>

namespace morvane {

template <class T>
class CComRef {
public:
    CComRef() = default;
    ~CComRef() { Reset(); }
    CComRef(CComRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CComRef& operator=(CComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // For an out argument: lets go of what is held and takes what the call
    // hands back.
    T** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    void Reset() {
        if (m_p != nullptr) std::exchange(m_p, nullptr)->Release();
    }

private:
    T* m_p = nullptr;
};

}  // namespace morvane
