// The installed serial and network backends. The system's own are the
// default; tests and fuzzers install in-memory ones.
#include <atomic>

#include "platform/platform.h"

namespace mv::plat {

const SerialOps& systemSerialOps();
const NetOps& systemNetOps();

namespace {
std::atomic<const SerialOps*> installedSerial{nullptr};
std::atomic<const NetOps*> installedNet{nullptr};
std::atomic<ClockFn> installedClock{nullptr};
std::atomic<SleepFn> installedSleep{nullptr};
}  // namespace

const SerialOps& serial() {
    const SerialOps* ops = installedSerial.load(std::memory_order_acquire);
    return ops ? *ops : systemSerialOps();
}

void setSerialOps(const SerialOps* ops) { installedSerial.store(ops, std::memory_order_release); }

const NetOps& net() {
    const NetOps* ops = installedNet.load(std::memory_order_acquire);
    return ops ? *ops : systemNetOps();
}

void setNetOps(const NetOps* ops) { installedNet.store(ops, std::memory_order_release); }

std::uint32_t tickMs() {
    ClockFn clock = installedClock.load(std::memory_order_acquire);
    return clock ? clock() : systemTickMs();
}

void setClock(ClockFn clock) { installedClock.store(clock, std::memory_order_release); }

void sleepMs(std::uint32_t ms) {
    SleepFn sleep = installedSleep.load(std::memory_order_acquire);
    if (sleep) sleep(ms);
    else systemSleepMs(ms);
}

void setSleep(SleepFn sleep) { installedSleep.store(sleep, std::memory_order_release); }

}  // namespace mv::plat
