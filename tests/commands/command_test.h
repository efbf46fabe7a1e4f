// What the configuration and management suites share: a link opened to a
// fake reader with a known address, and the caller-side sentinel.
#pragma once

#include <gtest/gtest.h>

#include "morvent.h"
#include "support/reader_link.h"

namespace mvtest {

constexpr int kTestCom = 9;
constexpr std::uint8_t kAnswering = 0x05;  // the fake reader's own address
constexpr std::uint8_t kSentinel = 0xA7;   // what the caller's variables hold before a call

inline ReaderLink openLink(LinkKind kind) { return ReaderLink(kind, kTestCom, kAnswering); }

#define MVTEST_BOTH_LINKS(suite)                                                                  \
  INSTANTIATE_TEST_SUITE_P(Links, suite, ::testing::Values(LinkKind::Serial, LinkKind::Network), \
                           [](const auto& info) { return linkName(info.param); })

}  // namespace mvtest
