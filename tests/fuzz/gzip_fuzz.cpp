// libFuzzer target: any bytes as gzip members, through the decoder the
// natives use (see deflate_fuzz.h for what is checked).
#include "deflate_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kez::fuzz::decode_twice(kez::deflate::gunzip, kez::deflate::gzip, data, size);
  return 0;
}
