// The codec and checksums alone, without the natives, beside zlib itself
// when it is installed: 100 MB each of text, binary records and random
// bytes (the data of compress.kez). Our compressor against zlib level 1;
// our inflater against zlib's on the same streams (ours, and zlib's level 6
// with its dynamic and stored blocks); CRC-32 and Adler-32. Each figure is
// the best of three runs (the machine is shared).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "services/checksums.h"
#include "services/deflate.h"
#ifdef KEZ_BENCH_ZLIB
#include <zlib.h>
#endif

using namespace kez;
using bytes = std::vector<uint8_t>;

namespace {

// Seconds of the fastest of three runs.
double best(const std::function<void()>& body) {
  double b = 1e9;
  for (int i = 0; i < 3; i++) {
    auto t = std::chrono::steady_clock::now();
    body();
    b = std::min(b, std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
  }
  return b;
}

bytes chunk(int kind) {
  static const char* words[] = {"the", "of", "and", "to", "in", "is", "was", "that", "for", "on",
                                "as", "with", "by", "at", "from", "value", "block", "word",
                                "series", "string", "binary", "compress", "checksum", "digest",
                                "a", "an", "program", "data", "language", "function", "return",
                                "loop", "each", "while", "object", "context"};
  bytes b;
  uint32_t x = 1;
  if (kind == 0) {
    while (b.size() < 1048576) {
      x = (x * 75 + 74) % 65537;
      const char* w = words[x % 36];
      b.insert(b.end(), w, w + std::strlen(w));
      b.push_back(' ');
    }
    b.resize(1048576);
  } else if (kind == 1) {
    for (int32_t i = 1; i <= 65536; i++) {
      int32_t v[2] = {i, i * 7 % 1000};
      for (int32_t n : v)
        for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(uint32_t(n) >> s));
      double d = i / 3.0;
      uint64_t u;
      std::memcpy(&u, &d, 8);
      for (int s = 56; s >= 0; s -= 8) b.push_back(uint8_t(u >> s));
    }
  } else {
    for (int i = 0; i < 1048576; i++) {
      x = (x * 75 + 74) % 65537;
      b.push_back(uint8_t(x % 256));
    }
  }
  return b;
}

// Measures then inflates a raw deflate stream, as decompress does; MB/s.
double our_inflate(const bytes& packed, const bytes& data) {
  bytes back;
  double s = best([&] {
    uint64_t size = 0;
    deflate::inflate(nullptr, size, packed.data(), packed.size());
    back.assign(size, 0);
    deflate::inflate(back.data(), size, packed.data(), packed.size());
  });
  if (back != data) std::printf("MISMATCH ");
  return double(data.size()) / 1048576.0 / s;
}

#ifdef KEZ_BENCH_ZLIB
// A raw deflate stream from zlib at `level`.
bytes zlib_deflate(const bytes& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  bytes out(deflateBound(&z, data.size()));
  z.next_in = const_cast<uint8_t*>(data.data());
  z.avail_in = uInt(data.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  ::deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

double zlib_inflate(const bytes& packed, const bytes& data) {
  bytes back(data.size());
  double s = best([&] {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t*>(packed.data());
    z.avail_in = uInt(packed.size());
    z.next_out = back.data();
    z.avail_out = uInt(back.size());
    ::inflate(&z, Z_FINISH);
    inflateEnd(&z);
  });
  if (back != data) std::printf("MISMATCH ");
  return double(data.size()) / 1048576.0 / s;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  int megabytes = argc > 1 ? std::atoi(argv[1]) : 100;
  const char* names[] = {"text", "binary", "random"};
  for (int kind = 0; kind < 3; kind++) {
    bytes one = chunk(kind), data;
    for (int i = 0; i < megabytes; i++) data.insert(data.end(), one.begin(), one.end());
    double mb = double(data.size()) / 1048576.0;
    bytes packed(data.size() + data.size() / 8 + 64);
    uint64_t size = 0;
    double c = best([&] {
      size = packed.size();
      deflate::compress(packed.data(), size, data.data(), data.size());
    });
    packed.resize(size);
    std::printf("%-7s ours: compress %6.1f MB/s ratio %.3f, inflate %6.1f MB/s\n", names[kind], mb / c,
                double(size) / double(data.size()), our_inflate(packed, data));
#ifdef KEZ_BENCH_ZLIB
    bytes level1;
    double z1 = best([&] { level1 = zlib_deflate(data, 1); });
    bytes level6 = zlib_deflate(data, 6);
    std::printf("        zlib: level 1 %6.1f MB/s ratio %.3f; inflating our stream %6.1f MB/s\n",
                mb / z1, double(level1.size()) / double(data.size()), zlib_inflate(packed, data));
    std::printf("        zlib level 6 stream (ratio %.3f): ours %6.1f MB/s, zlib %6.1f MB/s\n",
                double(level6.size()) / double(data.size()), our_inflate(level6, data),
                zlib_inflate(level6, data));
#endif
  }
  bytes data(100 << 20);
  for (size_t i = 0; i < data.size(); i++) data[i] = uint8_t(i * 2654435761u >> 13);
  uint32_t sink = 0;
  double crc = best([&] { sink ^= crypto::crc32(data.data(), data.size()); });
  double adler = best([&] { sink ^= crypto::adler32(data.data(), data.size()); });
  std::printf("crc32 %5.2f GB/s, adler32 %5.2f GB/s", double(data.size()) / crc / 1e9,
              double(data.size()) / adler / 1e9);
#ifdef KEZ_BENCH_ZLIB
  crc = best([&] { sink ^= uint32_t(::crc32(0, data.data(), uInt(data.size()))); });
  adler = best([&] { sink ^= uint32_t(::adler32(1, data.data(), uInt(data.size()))); });
  std::printf("; zlib: crc32 %5.2f GB/s, adler32 %5.2f GB/s", double(data.size()) / crc / 1e9,
              double(data.size()) / adler / 1e9);
#endif
  std::printf(" [%u]\n", sink & 1);
}
