// Our wave structures, handles and codes are handed to the platform as they
// are; here the compiler proves that they match <mmsystem.h>. Our constants
// are taken before the platform's headers define the same names.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "audio/wave_api.h"

#define MORVANE_WAVE_CONSTANTS(X)                                                              \
    X(MMSYSERR_NOERROR) X(MMSYSERR_ERROR) X(MMSYSERR_BADDEVICEID) X(MMSYSERR_NOTENABLED)        \
    X(MMSYSERR_ALLOCATED) X(MMSYSERR_INVALHANDLE) X(MMSYSERR_NODRIVER) X(MMSYSERR_NOMEM)        \
    X(MMSYSERR_NOTSUPPORTED) X(MMSYSERR_INVALFLAG) X(MMSYSERR_INVALPARAM) X(WAVERR_BADFORMAT)   \
    X(WAVERR_STILLPLAYING) X(WAVERR_UNPREPARED) X(WHDR_DONE) X(WHDR_PREPARED) X(WHDR_BEGINLOOP) \
    X(WHDR_ENDLOOP) X(WHDR_INQUEUE) X(MM_WOM_OPEN) X(MM_WOM_CLOSE) X(MM_WOM_DONE)               \
    X(MM_WIM_OPEN) X(MM_WIM_CLOSE) X(MM_WIM_DATA) X(CALLBACK_NULL) X(CALLBACK_WINDOW)           \
    X(WAVE_FORMAT_PCM) X(WAVE_MAPPER)

namespace morvane::ours {
#define MORVANE_KEEP(name) constexpr uint32_t name##_ = name;
MORVANE_WAVE_CONSTANTS(MORVANE_KEEP)
#undef MORVANE_KEEP
}  // namespace morvane::ours

#undef MMSYSERR_NOERROR
#undef MMSYSERR_ERROR
#undef MMSYSERR_BADDEVICEID
#undef MMSYSERR_NOTENABLED
#undef MMSYSERR_ALLOCATED
#undef MMSYSERR_INVALHANDLE
#undef MMSYSERR_NODRIVER
#undef MMSYSERR_NOMEM
#undef MMSYSERR_NOTSUPPORTED
#undef MMSYSERR_INVALFLAG
#undef MMSYSERR_INVALPARAM
#undef WAVERR_BADFORMAT
#undef WAVERR_STILLPLAYING
#undef WAVERR_UNPREPARED
#undef WHDR_DONE
#undef WHDR_PREPARED
#undef WHDR_BEGINLOOP
#undef WHDR_ENDLOOP
#undef WHDR_INQUEUE
#undef MM_WOM_OPEN
#undef MM_WOM_CLOSE
#undef MM_WOM_DONE
#undef MM_WIM_OPEN
#undef MM_WIM_CLOSE
#undef MM_WIM_DATA
#undef CALLBACK_NULL
#undef CALLBACK_WINDOW
#undef WAVE_FORMAT_PCM
#undef WAVE_MAPPER

#include <windows.h>
#include <mmsystem.h>

namespace morvane::ours {
#define MORVANE_SAME_VALUE(name) \
    static_assert(name##_ == static_cast<uint32_t>(name), #name " differs from the platform's");
MORVANE_WAVE_CONSTANTS(MORVANE_SAME_VALUE)
#undef MORVANE_SAME_VALUE

// Same offset, width, signedness and pointer-ness for a field of ours and
// the platform's (whose integer types are spelled differently).
template <class A, class B>
constexpr bool kSameKind = sizeof(A) == sizeof(B) && std::is_pointer_v<A> == std::is_pointer_v<B> &&
                           std::is_signed_v<A> == std::is_signed_v<B>;
#define MORVANE_SAME_FIELD(type, field)                                                     \
    static_assert(offsetof(morvane::type, field) == offsetof(::type, field) &&              \
                      kSameKind<decltype(morvane::type::field), decltype(::type::field)>, \
                  #type "::" #field " differs from the platform's")

// Headers stay where the caller put them while the device holds them, so
// ours must be the platform's: same size, every field in place, and an
// alignment at least as strict (the platform packs to 1 byte).
static_assert(sizeof(morvane::WAVEHDR) == sizeof(::WAVEHDR));
static_assert(alignof(morvane::WAVEHDR) % alignof(::WAVEHDR) == 0);
MORVANE_SAME_FIELD(WAVEHDR, lpData);
MORVANE_SAME_FIELD(WAVEHDR, dwBufferLength);
MORVANE_SAME_FIELD(WAVEHDR, dwBytesRecorded);
MORVANE_SAME_FIELD(WAVEHDR, dwUser);
MORVANE_SAME_FIELD(WAVEHDR, dwFlags);
MORVANE_SAME_FIELD(WAVEHDR, dwLoops);
MORVANE_SAME_FIELD(WAVEHDR, lpNext);
MORVANE_SAME_FIELD(WAVEHDR, reserved);

// The format is only read while a device opens, and it is copied then: the
// platform's is packed to 18 bytes, ours is padded to 20. The fields
// themselves are the same.
static_assert(sizeof(::WAVEFORMATEX) == 18 && sizeof(morvane::WAVEFORMATEX) == 20);
MORVANE_SAME_FIELD(WAVEFORMATEX, wFormatTag);
MORVANE_SAME_FIELD(WAVEFORMATEX, nChannels);
MORVANE_SAME_FIELD(WAVEFORMATEX, nSamplesPerSec);
MORVANE_SAME_FIELD(WAVEFORMATEX, nAvgBytesPerSec);
MORVANE_SAME_FIELD(WAVEFORMATEX, nBlockAlign);
MORVANE_SAME_FIELD(WAVEFORMATEX, wBitsPerSample);
MORVANE_SAME_FIELD(WAVEFORMATEX, cbSize);
#undef MORVANE_SAME_FIELD

// Handles and result codes travel unchanged.
static_assert(kSameKind<morvane::HWAVEIN, ::HWAVEIN>);
static_assert(kSameKind<morvane::HWAVEOUT, ::HWAVEOUT>);
static_assert(kSameKind<morvane::MMRESULT, ::MMRESULT>);
static_assert(kSameKind<uintptr_t, WPARAM> && kSameKind<intptr_t, LPARAM>);
}  // namespace morvane::ours
