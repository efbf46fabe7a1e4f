// The two halves every native method shares: reading the Java input array
// into the export's arguments, and building the Java result array.
#pragma once

#include <jni.h>

namespace tessaly {

// What an int method returns when the call never reached the reader: the
// core or its export is missing, or the input array is short.
constexpr jint kUnavailable = -1;

// Walks a Java int array with a running position. Every read is checked
// against the array's length first: a read past the end reads nothing,
// yields zeros and marks the input short, so a method can read its whole
// layout and then ask `finish()` whether the array held it.
class InputReader {
public:
    InputReader(JNIEnv* env, jintArray array);
    ~InputReader();
    InputReader(const InputReader&) = delete;
    InputReader& operator=(const InputReader&) = delete;

    unsigned char byte();                       // low 8 bits of the next element
    int whole();                                // the next element as it is
    void bytes(unsigned char* out, int count);  // `count` elements, one byte each
    void skip();                                // an element that is read but not used

    // Releases the array and tells whether every read stayed inside it.
    bool finish();

private:
    bool take(int count);  // reserves `count` elements, false when short

    JNIEnv* env_;
    jintArray array_;
    jint* elements_ = nullptr;
    int length_ = 0;
    int position_ = 0;
    bool short_ = false;
};

// The usual layout: the reader address at in[0], the method's own fields,
// and the port as the last element. The address is read on construction;
// the caller reads its fields, then `finishWithPort()`.
class MethodInput : public InputReader {
public:
    MethodInput(JNIEnv* env, jintArray array) : InputReader(env, array), address(byte()) {}

    // Reads the port, releases the array and tells whether every read
    // stayed inside it.
    bool finishWithPort() {
        port = whole();
        return finish();
    }

    unsigned char address;
    int port = 0;
};

// The input of the plain queries: the reader address, then the port.
struct Target {
    unsigned char address = 0;
    int port = 0;
};

// Reads a Target and releases the array; false when the array is short.
bool readTarget(JNIEnv* env, jintArray array, Target& target);

// The input of the methods that send one fixed run of N bytes (a clock, a
// password): the reader address, the N bytes, the port.
template <int N>
struct RunInput {
    unsigned char address = 0;
    unsigned char bytes[N] = {};
    int port = 0;
};

template <int N>
bool readRunInput(JNIEnv* env, jintArray array, RunInput<N>& input) {
    InputReader in(env, array);
    input.address = in.byte();
    in.bytes(input.bytes, N);
    input.port = in.whole();
    return in.finish();
}

// The selection mask as the Gen2 methods and SetMask carry it: bank, two
// address bytes, a bit length and ceil(bits / 8) mask bytes (at most 32).
struct MaskBlock {
    unsigned char bank = 0;
    unsigned char address[2] = {};
    unsigned char bit_length = 0;
    unsigned char bytes[32] = {};
};

void readMaskBlock(InputReader& in, MaskBlock& mask);

// A tag EPC run: the word count W, then 2 * W bytes (up to 510).
struct EpcRun {
    unsigned char words = 0;
    unsigned char bytes[510] = {};
};

void readEpcRun(InputReader& in, EpcRun& epc);

// The result array under construction: element 0 is the status code, the
// outputs follow. Room for a full 8000-byte data run behind up to four
// leading elements (status, counts).
class Result {
public:
    static constexpr int kCapacity = 8004;

    explicit Result(int status) { add(status); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    void add(int value);
    void addBytes(const unsigned char* bytes, int count);  // zero-extended
    void addZeros(int count);

    // A new Java int array holding the elements; nullptr (with the JVM's
    // exception pending) when the array cannot be allocated.
    jintArray toJava(JNIEnv* env) const;

private:
    jint values_[kCapacity];
    int size_ = 0;
};

// Keeps a byte count reported by the core inside the buffer it describes.
int clampCount(int count, int capacity);

// The queries whose export fills one buffer of N bytes (a clock, a state, a
// tag record). in: address, port. out: status, the N bytes.
using BytesQuery = int(unsigned char* readerAddress, unsigned char* out, int portIndex);

template <int N>
jintArray bytesQuery(JNIEnv* env, jintArray array, BytesQuery* query) {
    Target target;
    if (!readTarget(env, array, target) || query == nullptr) return nullptr;

    unsigned char bytes[N] = {};
    Result result(query(&target.address, bytes, target.port));
    result.addBytes(bytes, N);
    return result.toJava(env);
}

}  // namespace tessaly

// A native method whose whole work is a layout that several methods share:
// it hands the array and its own export to `layout`.
#define TESSALY_LAYOUT(jni_name, layout, export_name)                                           \
    JNIEXPORT jintArray JNICALL Java_Tessaly_##jni_name(JNIEnv* env, jclass, jintArray array) { \
        return layout(env, array, TESSALY_BIND(export_name));                                   \
    }
