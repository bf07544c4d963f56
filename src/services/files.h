// The simple I/O layer: whole files read and written in one call, directory
// listings, and the small file operations (query, delete, rename) that the
// file! actions and `size?` hand their work to.
//
// Every descriptor is opened and closed within one call. Bytes travel through
// C++ buffers and become values only at the end, so no series address is
// ever held across a platform call. Failures come back as none!, false or
// -1 from the lower functions; `read` and `write` turn them into access
// cannot-open.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "values/cell.h"

namespace kez::simple_io {

// True when the path names a directory by its text alone: it ends with a
// slash or a backslash, is "." or "..", or ends with a separator followed
// by "." or "..".
bool dir_q(const Cell* file);

// A file's contents (string!, binary! with `binary`, block! of lines with
// `lines`) or, for a directory path, its listing; written into `out`.
// `part` and `seek` are number! cells or null; a negative one raises
// script out-of-range. Raises access cannot-open.
Cell* read(Cell* out, const Cell* file, const Cell* part, const Cell* seek, bool binary,
           bool lines);
// The bytes of a file from `seek` (0 when negative), at most `part` of them
// (all when negative); false when it cannot be opened or read.
bool read_bytes(const std::string& name, int64_t part, int64_t seek, std::vector<uint8_t>& bytes);
// The entries of a directory as file! values, sorted, directories with a
// trailing slash. Raises access cannot-open.
Cell* read_dir(Cell* out, const Cell* dir);

// Writes a value's data and returns the bytes written: a string! as UTF-8
// (at most `part` characters), a binary! as its bytes (at most `part`),
// anything else molded; with `lines` each value of a block, or the value
// alone, is followed by LF. A part that is not an integer raises script
// invalid-refine-arg, a negative part or seek script out-of-range; a file
// that cannot be opened raises access cannot-open, a failure while writing
// access no-create.
int64_t write(const Cell* file, const Cell* data, const Cell* part, const Cell* seek, bool append,
              bool lines);

enum class write_status { ok, cannot_open, failed };
// The bytes given, into the file. With `append` they go at its end, with a
// `seek` (not negative) over its content from there, both in place.
// Otherwise the file is replaced whole: the bytes are written to a new file
// in the same folder, synced and renamed over the target, which keeps its
// mode; a failure leaves the old content untouched.
write_status write_file(const std::string& name, const std::vector<uint8_t>& bytes, int64_t seek,
                        bool append);

bool delete_(const Cell* file);
// The last modification time in UTC as a date!, or none!.
Cell* query(Cell* out, const Cell* file);
// Never replaces an existing target.
bool rename(const Cell* from, const Cell* to);
// Bytes in a regular file, -1 for a directory or one that cannot be opened.
int64_t file_size(const Cell* file);

// The bytes cut into lines: at each LF, a CR before it dropped, no empty
// last line after a final LF. A new block of strings in `out`.
Cell* lines(Cell* out, const uint8_t* bytes, size_t count);

}  // namespace kez::simple_io
