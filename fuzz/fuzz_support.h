#pragma once
// What every fuzz target shares: LLVMFuzzerInitialize (the QCoreApplication
// and a quiet program, defined beside these), the check that turns a broken
// invariant into a crash the fuzzer keeps, a scratch folder and the input's
// choice bytes.

#include <QString>
#include <cstddef>
#include <cstdint>

namespace vt::fuzz {

// How many boxes the silent dialogs were asked to show since the last call.
int TakeBoxCount();

// Names the broken invariant on standard error and stops the run.
[[noreturn]] void Fail(const char* what);
inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// A folder of this process for the files of its inputs, made on the first
// call and removed when the run ends: in memory where the machine has
// /dev/shm, since the profile file syncs every write to disk.
QString ScratchFolder(const char* name);

// The input read as bytes from the front; past its end every read gives 0,
// so a short input still yields a complete set of choices.
class InputBytes {
  public:
    InputBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Up to `n` bytes (fewer at the end of the input).
    size_t take(size_t n, const uint8_t** out) {
        *out = data_ + pos_;
        const size_t k = n < size_ - pos_ ? n : size_ - pos_;
        pos_ += k;
        return k;
    }
    const uint8_t* rest() const { return data_ + pos_; }
    size_t left() const { return size_ - pos_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace vt::fuzz
