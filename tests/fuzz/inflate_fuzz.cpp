// libFuzzer target: any bytes as raw deflate streams, through the decoder the
// natives use (see deflate_fuzz.h for what is checked).
#include "deflate_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kez::fuzz::decode_twice(kez::deflate::inflate, kez::deflate::compress, data, size);
  return 0;
}
