// Decoding of the fuzz input: bytes, read front to back, become values a
// host may hand over and, in the end, one Scenario. Once the input runs dry
// every read answers 0, and 0 always picks the plain case, so short inputs
// describe ordinary renders and the seeds stay easy to write by hand. The
// order of the reads is the meaning of the committed corpus: change it and
// every seed describes another scenario.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Scenario.h"
#include "ofxhost/Host.h"

namespace qfx_fuzz {

// Reads the fuzz input front to back.
class FuzzInput {
public:
  FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
      value = value << 8 | byte();
    return value;
  }
  // An index below n.
  unsigned pick(unsigned n) { return byte() % n; }
  // A value in [lo, hi]; the range must be below 65536 wide.
  int range(int lo, int hi) {
    const unsigned span = static_cast<unsigned>(hi - lo) + 1;
    const unsigned raw = static_cast<unsigned>(byte()) << 8 | byte();
    return lo + static_cast<int>(raw % span);
  }
  bool chance(unsigned oneIn) { return pick(oneIn) == oneIn - 1; }
  size_t remaining() const { return size_ - pos_; }
  const uint8_t *rest() const { return data_ + pos_; }

private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

// The scenario of one input, for an instance of the effect under test (its
// parameters decide which values are read).
Scenario readScenario(FuzzInput &in, ofxhost::Instance &instance);

// Fills the image's pixels from the rest of the input, repeated; floats go
// through a palette so that NaN and infinities turn up often.
void fillPixels(ofxhost::Image &image, FuzzInput &in);

} // namespace qfx_fuzz
