#include "test_support.h"

#include <unistd.h>

#include <cstdio>

#include "boot/startup.h"

namespace kez::test {

void ensure_runtime() {
  static bool done = false;
  if (done) return;
  done = true;
  boot::init_runtime();
}

std::string capture_begin_end(void (*body)(void*), void* context) {
  std::fflush(stdout);
  FILE* tmp = std::tmpfile();
  int saved = dup(STDOUT_FILENO);
  dup2(fileno(tmp), STDOUT_FILENO);
  body(context);
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::string out;
  std::rewind(tmp);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0) out.append(buf, n);
  std::fclose(tmp);
  return out;
}

}  // namespace kez::test
