// A fixture that puts the in-memory reader behind one serial and one network
// link, on the virtual clock, so fault-injection tests can place a late byte
// exactly one millisecond either side of a limit without waiting for it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/memory_device.h"

namespace mvtest {

namespace memdev = mv::plat::memdev;

class MemoryReaderTest : public ::testing::Test {
protected:
    static constexpr int kSerial = 9;
    static constexpr int kNet = 4100;

    void SetUp() override;
    void TearDown() override;

    memdev::Device device(int port) { return port == kNet ? memdev::netDevice(kNet) : memdev::serialDevice(kSerial); }
    // Virtual milliseconds since `start`.
    static std::uint32_t since(std::uint32_t start) { return memdev::now() - start; }
    // Lets `ms` pass on the virtual clock.
    static void idle(std::uint32_t ms) { memdev::setNow(memdev::now() + ms); }
};

// The links a parameterised test runs on.
inline const int kBothLinks[] = {9, 4100};

}  // namespace mvtest
