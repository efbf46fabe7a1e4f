// Tessaly.dll under Windows, driven without a Java VM: the test loads the
// bridge with LoadLibraryA, finds its native methods by their JNI names and
// calls them with a JNIEnv whose functions work on plain C++ arrays.
//
// The executable is built twice: beside Morvent.dll (the bridge reaches the
// core and a fake reader through it) and in a directory without the core
// (MORVENT_BRIDGE_ALONE: every method must fail with null or -1).
#include <windows.h>

#include <jni.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/fake_reader.h"

using namespace mvtest;

namespace {

// ---- A JNIEnv over plain arrays ------------------------------------------------

struct FakeArray {
  std::vector<jint> values;
};
struct FakeString {
  std::u16string units;
};

struct JniCounts {
  int pinned = 0;
  int released = 0;
  int stringsPinned = 0;
  int stringsReleased = 0;
};
JniCounts counts;

FakeArray* arrayOf(jarray a) { return reinterpret_cast<FakeArray*>(a); }
FakeString* stringOf(jstring s) { return reinterpret_cast<FakeString*>(s); }

jsize JNICALL getArrayLength(JNIEnv*, jarray a) { return static_cast<jsize>(arrayOf(a)->values.size()); }

jint* JNICALL getIntArrayElements(JNIEnv*, jintArray a, jboolean* isCopy) {
  if (isCopy) *isCopy = JNI_TRUE;
  ++counts.pinned;
  auto* copy = new jint[arrayOf(a)->values.size() + 1];
  std::copy(arrayOf(a)->values.begin(), arrayOf(a)->values.end(), copy);
  return copy;
}

void JNICALL releaseIntArrayElements(JNIEnv*, jintArray a, jint* elements, jint mode) {
  ++counts.released;
  if (mode != JNI_ABORT) std::copy(elements, elements + arrayOf(a)->values.size(), arrayOf(a)->values.begin());
  delete[] elements;
}

std::vector<std::unique_ptr<FakeArray>> made;

jintArray JNICALL newIntArray(JNIEnv*, jsize length) {
  made.push_back(std::make_unique<FakeArray>());
  made.back()->values.assign(static_cast<std::size_t>(length), 0x5A5A5A5A);
  return reinterpret_cast<jintArray>(made.back().get());
}

void JNICALL setIntArrayRegion(JNIEnv*, jintArray a, jsize start, jsize length, const jint* from) {
  std::copy(from, from + length, arrayOf(a)->values.begin() + start);
}

jsize JNICALL getStringLength(JNIEnv*, jstring s) { return static_cast<jsize>(stringOf(s)->units.size()); }

const jchar* JNICALL getStringChars(JNIEnv*, jstring s, jboolean* isCopy) {
  if (isCopy) *isCopy = JNI_FALSE;
  ++counts.stringsPinned;
  return reinterpret_cast<const jchar*>(stringOf(s)->units.c_str());
}

void JNICALL releaseStringChars(JNIEnv*, jstring, const jchar*) { ++counts.stringsReleased; }

void JNICALL getStringRegion(JNIEnv*, jstring s, jsize start, jsize length, jchar* to) {
  const std::u16string& units = stringOf(s)->units;
  std::copy(units.begin() + start, units.begin() + start + length, reinterpret_cast<char16_t*>(to));
}

// Any other JNIEnv function: a clear failure rather than a jump to null.
void JNICALL unexpectedJniCall() {
  std::fprintf(stderr, "the bridge called a JNIEnv function that the fake does not provide\n");
  std::abort();
}

JNIEnv* fakeEnv() {
  static JNINativeInterface_ table = [] {
    JNINativeInterface_ t;
    void** slots = reinterpret_cast<void**>(&t);
    for (std::size_t i = 0; i < sizeof t / sizeof(void*); ++i) slots[i] = reinterpret_cast<void*>(&unexpectedJniCall);
    t.GetArrayLength = getArrayLength;
    t.GetIntArrayElements = getIntArrayElements;
    t.ReleaseIntArrayElements = releaseIntArrayElements;
    t.NewIntArray = newIntArray;
    t.SetIntArrayRegion = setIntArrayRegion;
    t.GetStringLength = getStringLength;
    t.GetStringChars = getStringChars;
    t.ReleaseStringChars = releaseStringChars;
    t.GetStringRegion = getStringRegion;
    return t;
  }();
  static JNIEnv env{&table};
  return &env;
}

// ---- The bridge's native methods, found by JNI name --------------------------------

HMODULE bridge() {
  static const HMODULE module = LoadLibraryA("Tessaly.dll");
  return module;
}

template <typename Fn>
Fn* method(const char* jniName) {
  Fn* fn = reinterpret_cast<Fn*>(GetProcAddress(bridge(), jniName));
  EXPECT_NE(fn, nullptr) << jniName;
  return fn;
}

using ArrayMethod = jintArray JNICALL(JNIEnv*, jclass, jintArray);
using IntMethod = jint JNICALL(JNIEnv*, jclass, jint);
using NoArgMethod = jint JNICALL(JNIEnv*, jclass);
using SettingMethod = jint JNICALL(JNIEnv*, jclass, jintArray);
using OpenNetMethod = jintArray JNICALL(JNIEnv*, jclass, jint, jint, jstring);

jintArray input(FakeArray& array) { return reinterpret_cast<jintArray>(&array); }
std::vector<jint> result(jintArray a) { return a ? arrayOf(a)->values : std::vector<jint>{}; }

jintArray openNet(int port, const char* ip) {
  FakeString text;
  for (const char* c = ip; *c; ++c) text.units += static_cast<char16_t>(*c);
  return method<OpenNetMethod>("Java_Tessaly_OpenNetPort")(fakeEnv(), nullptr, 0, port,
                                                           reinterpret_cast<jstring>(&text));
}

}  // namespace

TEST(Win32Bridge, LoadsWithLoadLibraryA) { ASSERT_NE(bridge(), nullptr); }

#ifdef MORVENT_BRIDGE_ALONE

TEST(Win32Bridge, WithoutTheCoreEveryMethodFailsWithNullOrMinusOne) {
  ASSERT_NE(bridge(), nullptr);
  counts = {};
  FakeArray open{{3, 0x00, 6}};
  EXPECT_EQ(method<ArrayMethod>("Java_Tessaly_OpenComPort")(fakeEnv(), nullptr, input(open)), nullptr);
  FakeArray target{{0xFF, 1024}};
  EXPECT_EQ(method<ArrayMethod>("Java_Tessaly_GetReaderInformation")(fakeEnv(), nullptr, input(target)),
            nullptr);
  FakeArray power{{0xFF, 20, 1024}};
  EXPECT_EQ(method<SettingMethod>("Java_Tessaly_SetRfPower")(fakeEnv(), nullptr, input(power)), -1);
  EXPECT_EQ(method<NoArgMethod>("Java_Tessaly_CloseComPort")(fakeEnv(), nullptr), -1);
  EXPECT_EQ(method<IntMethod>("Java_Tessaly_CloseNetPort")(fakeEnv(), nullptr, 6000), -1);
  EXPECT_EQ(method<IntMethod>("Java_Tessaly_CloseSpecComPort")(fakeEnv(), nullptr, 3), -1);
  EXPECT_EQ(openNet(6000, "127.0.0.1"), nullptr);
  // Whatever was taken from the Java side went back.
  EXPECT_EQ(counts.pinned, counts.released);
  EXPECT_EQ(counts.stringsPinned, counts.stringsReleased);
}

#else

TEST(Win32Bridge, OpensQueriesAndClosesANetworkReaderThroughTheCore) {
  auto reader = FakeReader::tcp();
  ASSERT_TRUE(reader);
  reader->scriptReaderInfo(0x07);
  counts = {};
  const std::vector<jint> opened = result(openNet(reader->port(), "127.0.0.1"));
  ASSERT_EQ(opened, (std::vector<jint>{0, 0x07, reader->port()}));

  reader->scriptReaderInfo(0x07);
  FakeArray target{{0x07, reader->port()}};
  const std::vector<jint> info =
      result(method<ArrayMethod>("Java_Tessaly_GetReaderInformation")(fakeEnv(), nullptr, input(target)));
  ASSERT_EQ(info.size(), 12u);
  EXPECT_EQ(info[0], 0);
  for (std::size_t k = 1; k < 12; ++k) EXPECT_EQ(info[k], kReaderInfoData[k - 1]) << k;

  EXPECT_EQ(method<IntMethod>("Java_Tessaly_CloseNetPort")(fakeEnv(), nullptr, reader->port()), 0);
  EXPECT_TRUE(reader->waitForDisconnect(3000));
  EXPECT_EQ(counts.pinned, counts.released);
  EXPECT_EQ(counts.stringsPinned, counts.stringsReleased);
}

TEST(Win32Bridge, FailuresOfTheCoreComeBackAsStatusCodes) {
  FakeArray open{{300, 0x00, 9}};  // no such COM port
  const std::vector<jint> opened =
      result(method<ArrayMethod>("Java_Tessaly_OpenComPort")(fakeEnv(), nullptr, input(open)));
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_NE(opened[0], 0);
  EXPECT_EQ(opened[2], -1);
  EXPECT_EQ(method<IntMethod>("Java_Tessaly_CloseNetPort")(fakeEnv(), nullptr, -5), 0);
  EXPECT_EQ(method<NoArgMethod>("Java_Tessaly_CloseComPort")(fakeEnv(), nullptr), 0);
}

#endif
