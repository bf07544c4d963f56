// libFuzzer target: any bytes as zlib streams, through the decoder the
// natives use (see deflate_fuzz.h for what is checked).
#include "deflate_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kez::fuzz::decode_twice(kez::deflate::zlib_uncompress, kez::deflate::zlib_compress, data, size);
  return 0;
}
