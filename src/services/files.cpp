// The simple I/O layer on POSIX: names are UTF-8 (a name holding a NUL is
// refused before any call), text is written with LF line ends, and dates are
// reported in UTC.
//
// A file that reports no size (a pipe, a terminal, a file under /proc) is
// read once, as a stream, into a growing buffer, and /seek and /part are
// applied to what was read: such a stream cannot be measured and then read
// again. With /part, a stream is read no further than the bytes asked for,
// so an endless device can be sampled.
#include "services/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "types/binary.h"
#include "types/date.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/file.h"
#include "values/string.h"
#include "values/words.h"

namespace kez::simple_io {

namespace {

// A stream is read in chunks of this size.
constexpr size_t CHUNK = 64 * 1024;
// Series hold at most this many bytes; a larger read fails.
constexpr uint64_t MAX_READ = 0x7FFFFFFF;

// An integer from a number! cell (a float is truncated); `fallback` for
// none! or null.
int64_t number_of(const Cell* c, int64_t fallback) {
  if (!c) return fallback;
  switch (TYPE_OF(c)) {
    case TYPE_INTEGER: return get_integer(c);
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      double d = get_float(c);
      if (std::isnan(d)) return 0;
      if (d >= 9.0e18) return INT64_MAX;
      if (d <= -9.0e18) return INT64_MIN;
      return int64_t(d);
    }
    default: return fallback;
  }
}

[[noreturn]] void out_of_range(const Cell* value) {
  Cell v = *value;
  fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
}

struct descriptor {
  int fd;
  explicit descriptor(int f) : fd(f) {}
  ~descriptor() {
    if (fd >= 0) close(fd);
  }
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
};

// Reads up to `limit` bytes (all when negative) from the current position,
// appending to `bytes`; false on a read error or past MAX_READ.
bool read_stream(int fd, int64_t limit, std::vector<uint8_t>& bytes) {
  for (;;) {
    size_t want = CHUNK;
    if (limit >= 0) {
      uint64_t left = uint64_t(limit) - std::min<uint64_t>(uint64_t(limit), bytes.size());
      if (left == 0) return true;
      want = size_t(std::min<uint64_t>(left, CHUNK));
    }
    size_t at = bytes.size();
    if (at + want > MAX_READ) return false;
    bytes.resize(at + want);
    ssize_t n = ::read(fd, bytes.data() + at, want);
    if (n < 0 && errno == EINTR) {
      bytes.resize(at);
      continue;
    }
    if (n < 0) return false;
    bytes.resize(at + size_t(n));
    if (n == 0) return true;
  }
}

bool ends_with_separator(const std::string& s) {
  return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

// The value's data as bytes: a string! as UTF-8 (at most `part`
// characters), a binary! as its bytes (at most `part` of them), anything
// else molded first.
void data_bytes(const Cell* data, int64_t part, std::vector<uint8_t>& out) {
  uint32_t t = TYPE_OF(data);
  if (t == TYPE_BINARY) {
    Cell b = *data;
    uint32_t n = binary::rs_length(&b);
    if (part >= 0 && uint64_t(part) < n) n = uint32_t(part);
    const uint8_t* p = binary::rs_head(&b);
    out.insert(out.end(), p, p + n);
    return;
  }
  std::string text;
  if (t == TYPE_STRING) {
    text = string::to_utf8(data, part >= 0 && part < INT32_MAX ? int32_t(part) : -1);
  } else {
    Cell v = *data;
    Cell* s = string::push_new(16);
    actions::mold(&v, s, false, false, false, 0x7FFFFFFF, 0);
    text = string::to_utf8(s, part >= 0 && part < INT32_MAX ? int32_t(part) : -1);
    stack::pop(1);
  }
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

bool dir_q(const Cell* file) {
  std::string s = string::to_utf8(file);
  if (s.empty()) return false;
  if (ends_with_separator(s) || s == "." || s == "..") return true;
  size_t n = s.size();
  auto sep = [&](size_t i) { return s[i] == '/' || s[i] == '\\'; };
  if (n >= 2 && s[n - 1] == '.' && sep(n - 2)) return true;
  return n >= 3 && s[n - 1] == '.' && s[n - 2] == '.' && sep(n - 3);
}

bool read_bytes(const std::string& name, int64_t part, int64_t seek, std::vector<uint8_t>& bytes) {
  descriptor f(open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (f.fd < 0) return false;
  struct stat st;
  if (fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (seek < 0) seek = 0;
  if (part == 0) return true;
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    uint64_t size = uint64_t(st.st_size);
    if (uint64_t(seek) >= size) return true;
    uint64_t n = size - uint64_t(seek);
    if (part > 0 && uint64_t(part) < n) n = uint64_t(part);
    if (n > MAX_READ) return false;
    bytes.resize(size_t(n));
    size_t done = 0;
    while (done < n) {
      ssize_t r = pread(f.fd, bytes.data() + done, size_t(n) - done, off_t(seek) + off_t(done));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return false;
      if (r == 0) break;  // the file shrank meanwhile
      done += size_t(r);
    }
    bytes.resize(done);
    return true;
  }
  // No size to go by: one pass over the stream, then the window.
  int64_t limit = part > 0 ? seek + part : -1;
  if (!read_stream(f.fd, limit, bytes)) return false;
  if (uint64_t(seek) >= bytes.size()) {
    bytes.clear();
    return true;
  }
  bytes.erase(bytes.begin(), bytes.begin() + seek);
  if (part > 0 && uint64_t(part) < bytes.size()) bytes.resize(size_t(part));
  return true;
}

Cell* lines(Cell* out, const uint8_t* bytes, size_t count) {
  Cell* block = block::push_only(int32_t(std::min<size_t>(count / 16 + 1, 4096)));
  size_t start = 0;
  for (size_t i = 0; i <= count; i++) {
    if (i < count && bytes[i] != '\n') continue;
    size_t end = i;
    if (i == count && start == count) break;  // no empty line after a final LF
    if (i < count && end > start && bytes[end - 1] == '\r') end--;
    string::load_in(std::string_view(reinterpret_cast<const char*>(bytes) + start, end - start),
                    block);
    start = i + 1;
  }
  *out = *block;
  stack::pop(1);
  return out;
}

namespace {

// A name as the file system holds it may be any bytes: each byte that does
// not start a valid UTF-8 sequence becomes U+FFFD, so one such name never
// keeps the rest of the folder from being listed.
std::string displayable_name(const std::string& name) {
  std::string out;
  const auto* p = reinterpret_cast<const uint8_t*>(name.data());
  const uint8_t* end = p + name.size();
  while (p < end) {
    int32_t cp;
    const uint8_t* next = unicode::fast_decode_utf8_char(p, end, &cp);
    if (cp < 0 || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += "\xEF\xBF\xBD";
      p++;
    } else {
      out.append(reinterpret_cast<const char*>(p), size_t(next - p));
      p = next;
    }
  }
  return out;
}

}  // namespace

Cell* read_dir(Cell* out, const Cell* dir) {
  std::string path = file::to_os_path(dir);
  if (!path.empty() && path.back() == '.') path += '/';
  DIR* d = opendir(path.empty() ? "." : path.c_str());
  if (!d) {
    Cell v = *dir;
    fire(err::ACCESS, err::access::CANNOT_OPEN, &v);
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string name(e->d_name);
    if (name == "." || name == "..") continue;
    bool is_dir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      is_dir = fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    if (is_dir) name += '/';
    names.push_back(displayable_name(name));
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  Cell* block = block::push_only(int32_t(names.size()));
  for (const std::string& name : names) {
    Cell* slot = string::load_in(name, block);
    set_type(slot, TYPE_FILE);
  }
  *out = *block;
  stack::pop(1);
  return out;
}

Cell* read(Cell* out, const Cell* file, const Cell* part, const Cell* seek, bool binary,
           bool as_lines) {
  if (dir_q(file)) return read_dir(out, file);
  int64_t count = number_of(part, -1), from = number_of(seek, -1);
  if (part && count < 0) out_of_range(part);
  if (seek && from < 0) out_of_range(seek);
  std::vector<uint8_t> bytes;
  if (!read_bytes(file::to_os_path(file), count, from, bytes)) {
    Cell v = *file;
    fire(err::ACCESS, err::access::CANNOT_OPEN, &v);
  }
  if (binary) {
    *out = *binary::push_bytes(bytes.data(), uint32_t(bytes.size()));
    stack::pop(1);
    return out;
  }
  if (as_lines) return lines(out, bytes.data(), bytes.size());
  return string::load_at(reinterpret_cast<const char*>(bytes.data()), uint32_t(bytes.size()), out);
}

namespace {

// Writes all the bytes at the descriptor's position; false on an error.
bool write_all(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// In place: appended at the end, or written over from `seek`, the file kept.
write_status write_in_place(const std::string& name, const std::vector<uint8_t>& bytes,
                            int64_t seek, bool append, bool truncate) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0);
  descriptor f(open(name.c_str(), flags, 0666));
  if (f.fd < 0) return write_status::cannot_open;
  if (seek > 0 && lseek(f.fd, off_t(seek), SEEK_SET) < 0) return write_status::failed;
  if (append && lseek(f.fd, 0, SEEK_END) < 0) return write_status::failed;
  bool ok = write_all(f.fd, bytes);
  int fd = f.fd;
  f.fd = -1;
  return close(fd) == 0 && ok ? write_status::ok : write_status::failed;
}

// A name for a new file that no one else picks: 32 random bits.
uint32_t random_suffix() {
  uint32_t r = 0;
  if (getrandom(&r, sizeof r, 0) != ssize_t(sizeof r)) {
    static uint32_t counter = 0;
    r = uint32_t(getpid()) * 2654435761u ^ ++counter;
  }
  return r;
}

}  // namespace

write_status write_file(const std::string& name, const std::vector<uint8_t>& bytes, int64_t seek,
                        bool append) {
  if (append || seek >= 0) return write_in_place(name, bytes, seek, append, false);
  // A symbolic link is followed: the file it names is replaced, the link
  // stays. Anything but a regular file (a device, a pipe) is written as it
  // is, truncated first.
  std::string target = name;
  struct stat st;
  bool exists = lstat(name.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    char* real = realpath(name.c_str(), nullptr);
    exists = real && stat(real, &st) == 0;
    if (real) target = real;
    free(real);
    if (!exists) return write_in_place(name, bytes, -1, false, true);
  }
  if (exists && !S_ISREG(st.st_mode)) return write_in_place(target, bytes, -1, false, true);
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  // A fresh name in the same folder (so that renaming is atomic), made with
  // O_EXCL: another writer's temporary file is never taken.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", random_suffix());
    temp = (slash == std::string::npos ? "" : dir) + "." + base + suffix;
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  // No new file can be made beside a target that can still be written (a
  // folder without write permission): that target is written in place.
  if (fd < 0) return write_in_place(target, bytes, -1, false, true);
  descriptor f(fd);
  bool ok = true;
  if (exists) {
    // The owner is kept where the writer may set it (root); otherwise the
    // new file is the writer's, with the old mode.
    if (fchown(fd, st.st_uid, st.st_gid) != 0) errno = 0;
    ok = fchmod(fd, st.st_mode & 07777) == 0;
  }
  ok = ok && write_all(fd, bytes) && fsync(fd) == 0;
  f.fd = -1;
  ok = close(fd) == 0 && ok;
  ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    return write_status::failed;
  }
  // The rename itself reaches the disk with the folder's entries.
  descriptor d(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.fd >= 0) fsync(d.fd);
  return write_status::ok;
}

int64_t write(const Cell* file, const Cell* data, const Cell* part, const Cell* seek, bool append,
              bool as_lines) {
  int64_t limit = -1;
  if (part) {
    if (TYPE_OF(part) != TYPE_INTEGER) {
      Cell ref = words::part_ref, v = *part;
      fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &ref, &v);
    }
    limit = get_integer(part);
    if (limit < 0) out_of_range(part);
  }
  int64_t at = -1;
  if (seek) {
    at = number_of(seek, 0);
    if (at < 0) out_of_range(seek);
  }
  std::string name = file::to_os_path(file);
  std::vector<uint8_t> bytes;
  if (as_lines && TYPE_OF(data) == TYPE_BLOCK) {
    Cell block = *data;
    int32_t n = block::rs_length(&block);
    for (int32_t i = 0; i < n; i++) {
      Cell item = block::rs_head(&block)[i];
      data_bytes(&item, -1, bytes);
      bytes.push_back('\n');
    }
  } else {
    data_bytes(data, limit, bytes);
    if (as_lines) bytes.push_back('\n');
  }
  switch (write_file(name, bytes, at, append)) {
    case write_status::ok: return int64_t(bytes.size());
    case write_status::cannot_open: {
      Cell v = *file;
      fire(err::ACCESS, err::access::CANNOT_OPEN, &v);
    }
    case write_status::failed: break;
  }
  Cell v = *file;
  fire(err::ACCESS, err::access::NO_CREATE, &v);
}

bool delete_(const Cell* file) {
  std::string name = file::to_os_path(file);
  return (dir_q(file) ? rmdir(name.c_str()) : unlink(name.c_str())) == 0;
}

Cell* query(Cell* out, const Cell* file) {
  std::string name = file::to_os_path(file);
  struct stat st;
  if (stat(name.c_str(), &st) != 0 || (ends_with_separator(name) && !S_ISDIR(st.st_mode))) {
    *out = make_none();
    return out;
  }
  struct tm t{};
  time_t secs = st.st_mtim.tv_sec;
  gmtime_r(&secs, &t);
  int32_t ms = int32_t(st.st_mtim.tv_nsec / 1000000);
  return date::make_at_parts(out, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                             t.tm_sec, ms * 1000000);
}

bool rename(const Cell* from, const Cell* to) {
  std::string a = file::to_os_path(from), b = file::to_os_path(to);
  if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace flag: test first.
  struct stat st;
  if (lstat(b.c_str(), &st) == 0) return false;
  return ::rename(a.c_str(), b.c_str()) == 0;
}

int64_t file_size(const Cell* file) {
  if (dir_q(file)) return -1;
  descriptor f(open(file::to_os_path(file).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (f.fd < 0 || fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return int64_t(st.st_size);
}

}  // namespace kez::simple_io
