#include "marshal.h"

namespace tessaly {

InputReader::InputReader(JNIEnv* env, jintArray array) : env_(env), array_(array) {
    if (array_ == nullptr) {
        short_ = true;
        return;
    }
    length_ = env_->GetArrayLength(array_);
    elements_ = env_->GetIntArrayElements(array_, nullptr);
    if (elements_ == nullptr) short_ = true;
}

InputReader::~InputReader() { finish(); }

bool InputReader::finish() {
    if (elements_ != nullptr) {
        // Nothing was changed: JNI_ABORT keeps a concurrent Java write to the
        // array from being overwritten by a copy-back of stale values.
        env_->ReleaseIntArrayElements(array_, elements_, JNI_ABORT);
        elements_ = nullptr;
    }
    return !short_;
}

bool InputReader::take(int count) {
    if (short_ || elements_ == nullptr || count > length_ - position_) {
        short_ = true;
        return false;
    }
    return true;
}

unsigned char InputReader::byte() { return static_cast<unsigned char>(whole() & 0xFF); }

int InputReader::whole() {
    if (!take(1)) return 0;
    return elements_[position_++];
}

void InputReader::bytes(unsigned char* out, int count) {
    if (!take(count)) return;
    for (int i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(elements_[position_ + i] & 0xFF);
    position_ += count;
}

void InputReader::skip() { whole(); }

bool readTarget(JNIEnv* env, jintArray array, Target& target) {
    InputReader in(env, array);
    target.address = in.byte();
    target.port = in.whole();
    return in.finish();
}

void readMaskBlock(InputReader& in, MaskBlock& mask) {
    mask.bank = in.byte();
    in.bytes(mask.address, 2);
    mask.bit_length = in.byte();
    in.bytes(mask.bytes, (mask.bit_length + 7) / 8);
}

void readEpcRun(InputReader& in, EpcRun& epc) {
    epc.words = in.byte();
    in.bytes(epc.bytes, 2 * epc.words);
}

void Result::add(int value) {
    if (size_ < kCapacity) values_[size_++] = value;
}

void Result::addBytes(const unsigned char* bytes, int count) {
    for (int i = 0; i < count; ++i) add(bytes[i]);
}

void Result::addZeros(int count) {
    for (int i = 0; i < count; ++i) add(0);
}

jintArray Result::toJava(JNIEnv* env) const {
    jintArray array = env->NewIntArray(size_);
    if (array != nullptr) env->SetIntArrayRegion(array, 0, size_, values_);
    return array;
}

int clampCount(int count, int capacity) {
    if (count < 0) return 0;
    return count < capacity ? count : capacity;
}

}  // namespace tessaly
