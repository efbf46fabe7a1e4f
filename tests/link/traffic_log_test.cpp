// The traffic log: switched on by "writelog.txt" at opening, one line per
// frame written and per chunk received, in "yyMMddHHmm.log" files.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "morvent.h"
#include "support/reader_link.h"
#include "support/test_env.h"

using namespace mvtest;
namespace fs = std::filesystem;

namespace {

std::string minuteFileName(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char name[32];
  std::strftime(name, sizeof name, "%y%m%d%H%M.log", &local);
  return name;
}

std::vector<fs::path> logFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::current_path()))
    if (entry.path().extension() == ".log") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char cell[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(cell, sizeof cell, "%02X ", b);
    text += cell;
  }
  return text;
}

class TrafficLog : public ::testing::TestWithParam<LinkKind> {
 protected:
  ScratchDir dir_;
};

TEST_P(TrafficLog, RecordsTheRequestAndEachChunkReceived) {
  std::ofstream("writelog.txt").close();
  ReaderLink link(GetParam(), 41);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  const Bytes answer = response(0x00, 0x21, 0x00, kReaderInfoData);
  const Bytes head(answer.begin(), answer.begin() + 7), tail(answer.begin() + 7, answer.end());
  link.reader().script({{head}, {tail, 60}});

  const std::time_t before = std::time(nullptr);
  unsigned char adr = 0xFF, pair[2], b2, b3, b4, b5, b6, scan, b8, b9, b10;
  ASSERT_EQ(GetReaderInformation(&adr, pair, &b2, &b3, &b4, &b5, &b6, &scan, &b8, &b9, &b10,
                                 link.portIndex()),
            MORVENT_OK);
  const std::time_t after = std::time(nullptr);

  std::string text;
  const std::set<std::string> allowed = {minuteFileName(before), minuteFileName(after)};
  for (const fs::path& file : logFiles()) {
    const std::string name = file.filename().string();
    EXPECT_TRUE(allowed.count(name)) << name;
    const std::string content = readFile(file);
    EXPECT_EQ(content.back(), '\n');
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
#ifdef _WIN32
      // Files written in text mode end their lines with CR LF on Windows.
      ASSERT_FALSE(line.empty());
      EXPECT_EQ(line.back(), '\r');
      line.pop_back();
#endif
      // The line's hour and minute are the file's.
      EXPECT_EQ(line.substr(1, 2) + line.substr(4, 2), name.substr(6, 4)) << line;
      text += line + "\n";
    }
  }
  const std::string stamp = R"(\[(\d\d):(\d\d):(\d\d) (\d\d\d)\]; )";
  const std::regex expected(stamp + "W ; " + hex(request(0xFF, 0x21)) + "; \n" +   //
                            stamp + "R ; " + hex(head) + "; \n" +                   //
                            stamp + "R ; " + hex(tail) + "; \n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_P(TrafficLog, NothingIsLoggedWithoutWritelogTxt) {
  ReaderLink link(GetParam(), 42);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  EXPECT_EQ(askReaderInformation(link.reader(), link.portIndex()), MORVENT_OK);
  EXPECT_TRUE(logFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Links, TrafficLog,
                         ::testing::Values(LinkKind::Serial, LinkKind::Network),
                         [](const auto& info) { return linkName(info.param); });

}  // namespace
