// libFuzzer target: any bytes through the image decoders (the format is
// recognised by its first bytes, as `decode` of every image codec does), and
// a small decoded image back through one of the encoders. No input may
// crash, hang, read out of bounds or leak; "not an image" and bad-media are
// ordinary outcomes.
//
// Seeds: a small image in every format (tests/fuzz/image-seeds.kez).
#include <cstdint>

#include "fuzz_support.h"
#include "types/binary.h"
#include "types/image.h"
#include "types/image_codecs.h"

using namespace kez;

namespace {

// Crafted headers may declare any size: keep what one input can make small.
constexpr uint64_t PIXEL_LIMIT = uint64_t(4) << 20;
constexpr uint32_t ENCODE_LIMIT = 4096;

void run(const uint8_t* data, size_t size) {
  Cell* bytes = binary::push_bytes(data, uint32_t(size));
  Cell* img = stack::push_unset();
  image::from_binary(bytes, img);
  if (TYPE_OF(img) != TYPE_IMAGE || image::pixel_count(img) > ENCODE_LIMIT) return;
  Cell* out = stack::push_unset();
  image::encode(img, int32_t(size % image_codecs::FORMAT_COUNT), out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::run_input([] { image_codecs::pixel_limit = PIXEL_LIMIT; }, [&] { run(data, size); });
  return 0;
}
