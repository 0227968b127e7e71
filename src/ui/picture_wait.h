#pragma once
// Waitable events for the picture control's animation thread, and the clock
// their timed waits run on. The program uses the steady clock; tests put a
// virtual clock in its place so that the animation runs without sleeping.

#include <chrono>
#include <memory>

namespace morvane {

// A timeout that never runs out.
inline constexpr std::chrono::milliseconds kWaitForever = std::chrono::milliseconds::max();

// A manual-reset event: once set it stays set, and every wait returns at
// once, until it is reset.
class IWaitableEvent {
public:
    virtual ~IWaitableEvent() = default;
    virtual void Set() = 0;
    virtual void Reset() = 0;
    // Returns true as soon as the event is set, false when `timeout` ran out
    // first.
    virtual bool Wait(std::chrono::milliseconds timeout) = 0;
};

class IWaitClock {
public:
    // A new event, not set.
    virtual std::unique_ptr<IWaitableEvent> MakeEvent() = 0;

protected:
    ~IWaitClock() = default;
};

// Events whose waits run on the steady clock.
IWaitClock& SteadyWaitClock();

}  // namespace morvane
