// The boot routines.
//
// A routine reads its arguments at stack::arguments[i] (in spec order; the
// interpreter has checked their types) and leaves its result in
// stack::arguments[0], like a native.
#include "boot/routines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "foundation/collector.h"
#include "foundation/output.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "foundation/unicode.h"
#include "services/clipboard.h"
#include "services/environment.h"
#include "services/kezbin.h"
#include "services/lexer.h"
#include "types/handle.h"
#include "types/image.h"
#include "types/tuple.h"
#include "values/bitset.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/function.h"
#include "values/object.h"
#include "values/series.h"
#include "values/simple_types.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::boot {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// Ends the process at once (exit hooks run, nothing else is saved).
void quit_return() { runtime::exit_process(get_integer(arg(0))); }

void set_quiet() {
  Cell w = *arg(0);
  uint32_t t = TYPE_OF(&w);
  if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) {
    Cell call = word::make_global(symbol::make("set-quiet"));
    Cell dt = make_datatype(t), a = word::make_global(symbol::make("word"));
    fire(err::SCRIPT, err::script::EXPECT_ARG, &call, &dt, &a);
  }
  Cell v = *arg(1);
  context::set_in(&w, &v, w.w1, false);
  *arg(0) = v;
}

void set_slot_quiet() {
  Cell s = *arg(0);
  uint32_t t = TYPE_OF(&s);
  if (t != TYPE_BLOCK && t != TYPE_PAREN && !block::is_path_type(t)) {
    Cell call = word::make_global(symbol::make("set-slot-quiet"));
    Cell dt = make_datatype(t), a = word::make_global(symbol::make("series"));
    fire(err::SCRIPT, err::script::EXPECT_ARG, &call, &dt, &a);
  }
  if (block::rs_length(&s) > 0) *block::rs_head(&s) = *arg(1);
  *arg(0) = s;
}

int32_t shift_bits() {
  int32_t bits = get_integer(arg(1));
  return bits < 0 ? 0 : bits;
}

void shift_right() {
  int32_t data = get_integer(arg(0)), bits = shift_bits();
  *arg(0) = make_integer(bits > 31 ? (data < 0 ? -1 : 0) : data >> bits);
}

void shift_left() {
  int32_t data = get_integer(arg(0)), bits = shift_bits();
  *arg(0) = make_integer(bits > 31 ? 0 : int32_t(uint32_t(data) << bits));
}

void shift_logical() {
  int32_t data = get_integer(arg(0)), bits = shift_bits();
  *arg(0) = make_integer(bits > 31 ? 0 : int32_t(uint32_t(data) >> bits));
}

void last_lf_q() { *arg(0) = make_logic(natives::last_lf); }

void get_current_dir() {
  std::string dir = platform::get_current_dir();
  if (dir.empty() || dir.back() != '/') dir += '/';
  string::load_at(dir.data(), uint32_t(dir.size()), arg(0));
}

std::string os_path(const Cell* path) { return string::to_utf8(path); }

void set_current_dir() {
  Cell p = *arg(0);
  if (!platform::set_current_dir(os_path(&p))) fire(err::ACCESS, err::access::CANNOT_OPEN, &p);
}

void create_dir() {
  Cell p = *arg(0);
  std::string path = os_path(&p);
  if (path.find('\0') != std::string::npos || mkdir(path.c_str(), 0777) != 0)
    fire(err::ACCESS, err::access::NO_CREATE, &p);
}

void exists_q() {
  Cell p = *arg(0);
  std::string path = os_path(&p);
  struct stat st;
  *arg(0) = make_logic(path.find('\0') == std::string::npos && stat(path.c_str(), &st) == 0);
}

void stack_size_q() { *arg(0) = make_integer(int32_t(stack::top - stack::bottom)); }

void pick_stack() {
  int32_t idx = get_integer(arg(0));
  int32_t size = int32_t(stack::top - stack::bottom);
  *arg(0) = idx > 0 && idx < size ? stack::bottom[idx - 1] : none_value;
}

void frame_index_q() { *arg(0) = make_integer(int32_t(stack::arguments - stack::bottom)); }

void collect_calls() { stack::collect_calls(arg(0)); }

void tracing_q() { *arg(0) = make_logic(trace::on); }

// `trace true` and `trace false` inside a traced run: events resume or stop
// until the next switch (outside a traced run, tracing stays off).
void trace_switch() {
  trace::switch_to(arg(0)->w1 != 0);
  *arg(0) = make_unset();
}

void write_stdout() {
  Cell data = *arg(0);
  if (TYPE_OF(&data) == TYPE_BINARY) {
    series_buffer* b = GET_BUFFER(&data);
    output::write_bytes(reinterpret_cast<const char*>(b->head_ptr() + data.w1),
                        b->used() > data.w1 ? b->used() - data.w1 : 0);
    return;
  }
  Cell* text = &data;
  if (!string::is_string_type(TYPE_OF(&data))) {
    text = string::push_new(16);
    actions::mold(&data, text, false, false, false, 0x7FFFFFFF, 0);
  }
  std::string utf8 = string::to_utf8(text);
  output::write_bytes(utf8.data(), utf8.size());
  *arg(0) = data;
}

// Characters from `start`'s position to `pos`'s, both taken in `start`'s
// buffer and clamped to its tail; the lead byte gives a character's length,
// and one that runs past the end still counts.
void count_chars() {
  Cell start = *arg(0), pos = *arg(1);
  series_buffer* b = GET_BUFFER(&start);
  uint32_t used = b->used();
  uint32_t i = std::min(start.w1, used), end = std::min(pos.w1, used);
  const uint8_t* p = b->head_ptr();
  int32_t n = 0;
  while (i < end) {
    i += uint32_t(p[i] < 0xC0 ? 1 : unicode::utf8_char_size(p[i]));
    n++;
  }
  *arg(0) = make_integer(n);
}

// A tuple of the low bytes of the little-endian word, for as-ipv4 and
// as-rgba: a component above 255 carries into the next byte.
void as_tuple(int n, bool word_packed) {
  int32_t v[4];
  for (int i = 0; i < n; i++) {
    v[i] = get_integer(arg(i));
    if (v[i] < 0) {
      Cell bad = *arg(i);
      fire(err::SCRIPT, err::script::INVALID_ARG, &bad);
    }
  }
  if (word_packed) {
    uint32_t w = uint32_t(v[0]) | uint32_t(v[1]) << 8 | uint32_t(v[2]) << 16 | uint32_t(v[3]) << 24;
    for (int i = 0; i < 4; i++) v[i] = int32_t((w >> (8 * i)) & 0xFF);
  }
  tuple::make_from_ints(arg(0), uint32_t(n), v);
}

void as_color() { as_tuple(3, false); }
void as_ipv4() { as_tuple(4, true); }

void os_info() { environment::os_info(arg(0)); }

// The routines below exist only while the boot library builds the
// environment: its sources move them into their objects, or call them once,
// and unset their words.

void boot_system_words() {
  Cell* words = object::push(context::global_node, 0, 0);
  *arg(0) = *words;
}

// The command line as one text, as a shell would have received it:
// arguments holding blanks or tabs, and empty ones, in double quotes.
void boot_command_line() {
  std::string line = environment::get_cmdline();
  string::load_at(line.data(), uint32_t(line.size()), arg(0));
}

// The time this part of the runtime was compiled, as a date! (none while
// the runtime has no dates).
void boot_build_date() {
  *arg(0) = make_none();
  if (!actions::peek_make(TYPE_DATE)) return;
  static constexpr char DATE[] = __DATE__;  // "Mmm dd yyyy"
  static constexpr char TIME[] = __TIME__;  // "hh:mm:ss"
  char text[32];
  int day = (DATE[4] == ' ' ? 0 : DATE[4] - '0') * 10 + (DATE[5] - '0');
  int n = std::snprintf(text, sizeof text, "%d-%.3s-%.4s/%s", day, DATE, DATE + 7, TIME);
  Cell* values = lexer::scan_utf8(text, uint32_t(n));
  if (block::rs_length(values) == 1 && TYPE_OF(block::rs_head(values)) == TYPE_DATE)
    *arg(0) = *block::rs_head(values);
}

// The runtime's errors are copies of the system's own error record.
void boot_error_prototype() {
  Cell proto = *arg(0);
  if (TYPE_OF(&proto) != TYPE_OBJECT) return;
  error::prototype = proto;
  context::keep(&proto);
}

void boot_float_switch() {
  Cell w = *arg(0);
  Cell v = *arg(1);
  bool on = TYPE_OF(&v) != TYPE_NONE && !(TYPE_OF(&v) == TYPE_LOGIC && !v.w1) &&
            TYPE_OF(&v) != TYPE_UNSET;
  uint32_t name = symbol::resolve(w.w2);
  if (name == symbol::resolve(symbol::make("pretty?"))) float_::pretty_print = on;
  else if (name == symbol::resolve(symbol::make("full?"))) float_::full_support = on;
  *arg(0) = make_unset();
}

void boot_null_handle() { *arg(0) = handle::make(0, handle::CLASS_NULL); }

void gc_active_q() { *arg(0) = make_logic(collector::active); }
void gc_series_cycles() { *arg(0) = make_integer(int32_t(collector::stats.cycles)); }
void gc_nodes_cycles() { *arg(0) = make_integer(int32_t(collector::stats.nodes_cycles)); }

// split-path's common case in one pass: a target of four characters or
// more with a slash before its last one, split after the last such slash
// into a copy of the part before (of the target's type) and a file! of the
// rest, "/" added to a rest of "." or "..". None for any other target,
// which split-path's own code takes.
void split_path() {
  Cell target = *arg(0);
  series_buffer* b = GET_BUFFER(&target);
  uint32_t unit = b->unit();
  uint32_t length = b->used() / unit;
  uint32_t index = target.w1;
  if (index >= length || length - index < 4) {
    *arg(0) = none_value;
    return;
  }
  const uint8_t* chars = b->head_ptr();
  uint32_t cut = length - 1;
  while (cut > index && unicode::get_char(chars + uint64_t(cut - 1) * unit, unit) != '/') cut--;
  if (cut == index) {
    *arg(0) = none_value;
    return;
  }
  Cell* out = block::push_only(2);
  Cell* dir = stack::push_unset();
  node_t node = series::copy_range(&target, index, cut - index);
  *dir = Cell{TYPE_OF(&target), 0, node, 0};
  block::rs_append(out, dir);
  Cell* file = stack::push_unset();
  uint32_t rest = length - cut;
  node = series::copy_range(&target, cut, rest);
  *file = Cell{TYPE_FILE, 0, node, 0};
  const uint8_t* r = GET_BUFFER(file)->head_ptr();
  auto dot = [&](uint32_t i) { return unicode::get_char(r + uint64_t(i) * unit, unit) == '.'; };
  if ((rest == 1 && dot(0)) || (rest == 2 && dot(0) && dot(1))) string::append_literal(file, "/");
  block::rs_append(out, file);
  *arg(0) = *out;
  stack::top = arg(0) + 1;
}

// A line of CSV text from a block of strings, appended to `out`: each
// value as it is, or between quote characters with its own quote
// characters doubled when it holds a character of `quotable`; the values
// separated by the delimiter, the line ended by a line feed. None, with
// nothing appended, when a value is not a string!: the CSV writer's own
// code forms those.
void csv_line() {
  Cell data = *arg(1);
  int32_t n = block::rs_length(&data);
  for (int32_t i = 0; i < n; i++) {
    if (TYPE_OF(block::rs_head(&data) + i) != TYPE_STRING) {
      *arg(0) = none_value;
      return;
    }
  }
  Cell* out = arg(0);
  Cell delimiter = *arg(2);
  uint32_t quote = arg(3)->w2;
  const Cell* quotable = arg(4);
  for (int32_t i = 0; i < n; i++) {
    // Appending may move every buffer: the value is read again each time.
    Cell value = block::rs_head(&data)[i];
    uint32_t length = string::rs_length(&value);
    bool quoted = false;
    {
      series_buffer* b = GET_BUFFER(&value);
      uint32_t unit = b->unit();
      const uint8_t* chars = b->head_ptr() + uint64_t(value.w1) * unit;
      for (uint32_t k = 0; k < length && !quoted; k++)
        quoted = bitset::test(quotable, unicode::get_char(chars + uint64_t(k) * unit, unit));
    }
    if (!quoted) {
      string::append_string(out, &value);
    } else {
      string::append_char(out->w2, quote);
      for (uint32_t k = 0; k < length; k++) {
        series_buffer* b = GET_BUFFER(&value);
        uint32_t unit = b->unit();
        uint32_t c = unicode::get_char(b->head_ptr() + uint64_t(value.w1 + k) * unit, unit);
        string::append_char(out->w2, c);
        if (c == quote) string::append_char(out->w2, quote);
      }
      string::append_char(out->w2, quote);
    }
    if (i + 1 == n) break;
    if (TYPE_OF(&delimiter) == TYPE_CHAR) string::append_char(out->w2, delimiter.w2);
    else string::append_string(out, &delimiter);
  }
  string::append_char(out->w2, '\n');
}

// The values of one line of CSV text, from `input`'s position up to the
// first character that is neither part of a value nor a delimiter after
// one, each appended to `line` as a new string; answers the input at that
// position. A value that starts with the quote character and has a closing
// one (a quote character doubled inside stands for one) is the text
// between them; any other is the run of `value_chars` from its start. The
// load-csv rules read the same: `value_chars` and `quoted_chars` are their
// charsets. None for an empty delimiter, which those rules take.
void csv_fields() {
  Cell input = *arg(0);
  Cell delimiter = *arg(2);
  uint32_t quote = arg(3)->w2;
  const Cell* value_chars = arg(4);
  const Cell* quoted_chars = arg(5);
  bool char_delimiter = TYPE_OF(&delimiter) == TYPE_CHAR;
  uint32_t delimiter_length = char_delimiter ? 1 : string::rs_length(&delimiter);
  if (delimiter_length == 0) {
    *arg(0) = none_value;
    return;
  }
  // Characters are read through the buffers each time: appending a value
  // to the line allocates, which may move them.
  auto at = [](const Cell& s, uint32_t i) {
    series_buffer* b = GET_BUFFER(&s);
    return unicode::get_char(b->head_ptr() + uint64_t(i) * b->unit(), b->unit());
  };
  uint32_t length = string::rs_abs_length(&input);
  uint32_t pos = std::min(input.w1, length);
  for (;;) {
    uint32_t from = pos, count = 0;
    bool doubled = false;
    if (pos < length && at(input, pos) == quote) {
      uint32_t q = pos + 1;
      while (q < length && bitset::test(quoted_chars, at(input, q))) q++;
      while (q + 1 < length && at(input, q) == quote && at(input, q + 1) == quote) {
        doubled = true;
        q += 2;
        while (q < length && bitset::test(quoted_chars, at(input, q))) q++;
      }
      if (q < length && at(input, q) == quote) {
        from = pos + 1;
        count = q - from;
        pos = q + 1;
      } else {
        doubled = false;
      }
    }
    if (pos == from) {
      while (pos < length && bitset::test(value_chars, at(input, pos))) pos++;
      count = pos - from;
    }
    Cell* value = stack::push_unset();
    node_t node = series::copy_range(&input, from, count);
    *value = Cell{TYPE_STRING, 0, node, 0};
    if (doubled) {
      // Each doubled quote character becomes one, in place.
      series_buffer* b = GET_BUFFER(value);
      uint32_t unit = b->unit(), kept = 0;
      uint8_t* chars = b->head_ptr();
      for (uint32_t k = 0; k < count; k++) {
        uint32_t c = unicode::get_char(chars + uint64_t(k) * unit, unit);
        unicode::put_char(chars + uint64_t(kept++) * unit, unit, c);
        if (c == quote) k++;
      }
      b->tail = b->head + kept * unit;
    }
    block::rs_append(arg(1), value);
    stack::pop(1);
    // A delimiter: another value follows.
    if (char_delimiter) {
      if (pos >= length || at(input, pos) != delimiter.w2) break;
    } else {
      if (length - pos < delimiter_length) break;
      uint32_t k = 0;
      while (k < delimiter_length && at(input, pos + k) == at(delimiter, delimiter.w1 + k)) k++;
      if (k < delimiter_length) break;
    }
    pos += delimiter_length;
  }
  input.w1 = pos;
  *arg(0) = input;
  stack::top = arg(0) + 1;
}

constexpr routine_entry ROUTINES[] = {
    {"quit-return",
     R"spec("Stops evaluation and exits the program with a given status"
        status [integer!] "Process termination value to return")spec",
     quit_return},
    {"set-quiet",
     R"spec("Set an object's field to a value without triggering eventual object's events"
        word [any-type!] value [any-type!] return: [any-type!])spec",
     set_quiet},
    {"set-slot-quiet",
     R"spec("Set a value in series without triggering eventual owner's events"
        series [any-type!] value [any-type!])spec",
     set_slot_quiet},
    {"shift-right", R"spec("Shift bits to the right" data [integer!] bits [integer!])spec", shift_right},
    {"shift-left", R"spec("Shift bits to the left" data [integer!] bits [integer!])spec", shift_left},
    {"shift-logical", R"spec("Shift bits to the right (unsigned)" data [integer!] bits [integer!])spec",
     shift_logical},
    {"last-lf?", R"spec("Internal Use Only")spec", last_lf_q},
    {"get-current-dir", R"spec("Returns the platform's current directory for the process")spec",
     get_current_dir},
    {"set-current-dir", R"spec("Sets the platform's current process directory" path [file!])spec",
     set_current_dir},
    {"create-dir", R"spec("Create the given directory" path [file!])spec", create_dir},
    {"exists?", R"spec("Returns TRUE if the file exists" path [file!] return: [logic!])spec", exists_q},
    {"count-chars",
     R"spec("Count UTF-8 encoded characters between two positions in a binary series"
        start [binary!] pos [binary!] return: [integer!])spec",
     count_chars},
    {"stack-size?", R"spec(return: [integer!])spec", stack_size_q},
    {"pick-stack", R"spec(idx [integer!])spec", pick_stack},
    {"frame-index?", R"spec(return: [integer!])spec", frame_index_q},
    {"collect-calls", R"spec(blk [block!])spec", collect_calls},
    {"tracing?", R"spec()spec", tracing_q},
    {"write-stdout", R"spec("Write data to STDOUT" data [any-type!])spec", write_stdout},
    {"os-info", R"spec("Returns detailed operating system version information")spec", os_info},
    {"as-color",
     R"spec("Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!])spec",
     as_color},
    {"as-ipv4",
     R"spec("Combine a, b, c and d values into a tuple"
        a [integer!] b [integer!] c [integer!] d [integer!])spec",
     as_ipv4},
    {"as-rgba",
     R"spec("Combine R, G, B and A color components into a tuple"
        r [integer!] g [integer!] b [integer!] a [integer!])spec",
     as_ipv4},
    {"_null-handle", "", boot_null_handle},
    {"_system-words", "", boot_system_words},
    {"_command-line", "", boot_command_line},
    {"_build-date", "", boot_build_date},
    {"_error-prototype", "proto [object!]", boot_error_prototype},
    {"_float-switch", "word [word!] value [any-type!]", boot_float_switch},
    {"_trace-switch", "mode [logic!]", trace_switch},
    {"_gc-active?", "return: [logic!]", gc_active_q},
    {"_gc-series-cycles", "return: [integer!]", gc_series_cycles},
    {"_gc-nodes-cycles", "return: [integer!]", gc_nodes_cycles},
    {"_split-path", "target [file! url!]", split_path},
    {"_csv-line",
     "out [string!] data [block!] delimiter [char! string!] quote [char!] quotable [bitset!]",
     csv_line},
    {"_csv-fields",
     "input [string!] line [block!] delimiter [char! string!] quote [char!] value-chars [bitset!] "
     "quoted-chars [bitset!]",
     csv_fields},
};


// The routine specs make_all_routines lexes, and the names it binds, in its
// order: the pool's build step records them into an image of their own,
// which start-up from the pool decodes instead of lexing the specs. The
// image is one record a spec (its text's hash, then its block) or a name
// (its word); its words become global as it is read, in the order lexing
// and binding made them global. A record that does not match what is asked
// for (a text or a name differs) ends the replay: from there the specs are
// lexed.
enum class spec_mode { lex, record, replay };
spec_mode mode = spec_mode::lex;
Cell* held = nullptr;  // the block recorded or decoded, on the value stack
int32_t next = 0;      // replay: its next record

// The next replayed record if it has type `type`, else none (and the replay
// ends).
const Cell* next_record(uint32_t type) {
  if (mode != spec_mode::replay) return nullptr;
  if (next < block::rs_length(held)) {
    const Cell* c = block::rs_head(held) + next;
    if (TYPE_OF(c) == type) {
      next++;
      return c;
    }
  }
  mode = spec_mode::lex;
  return nullptr;
}

void record(const Cell* value) {
  if (mode == spec_mode::record) block::rs_append(held, value);
}

// Sets the global word `name` to the routine at the top of the stack, and
// drops it.
void bind_routine(const char* name, const Cell* made) {
  Cell value = *made;
  Cell w = routine_word(name);
  word::set(&w, &value);
  stack::pop(1);
}

}  // namespace

Cell* routine_in_place(routines::routine_fn fn) {
  uint32_t code = routines::add(fn);
  routine::push(stack::top_cell(), code);
  Cell value = *stack::top_cell();
  stack::pop(1);
  *stack::top_cell() = value;
  return stack::top_cell();
}

Cell routine_word(const char* name) {
  const Cell* replayed = next_record(TYPE_WORD);
  if (replayed && std::strcmp(symbol::to_cstr(replayed->w2), name) != 0) {
    mode = spec_mode::lex;
    replayed = nullptr;
  }
  Cell w = replayed ? *replayed : word::make_global(symbol::make(name));
  record(&w);
  return w;
}

Cell* lex_spec(const spec_text& spec_in) {
  std::string_view text = spec_in.text;
  if (mode == spec_mode::replay) {
    const Cell* hash = next_record(TYPE_INTEGER);
    if (hash && get_integer(hash) == int32_t(spec_in.hash)) {
      if (const Cell* spec = next_record(TYPE_BLOCK)) return stack::push(*spec);
    }
    mode = spec_mode::lex;
  }
  Cell* spec = lexer::scan_utf8(text.data(), uint32_t(text.size()));
  if (mode == spec_mode::record) {
    Cell hash = make_integer(int32_t(spec_in.hash));
    record(&hash);
    record(spec);
  }
  return spec;
}

std::vector<uint8_t> record_routine_specs(void (*make)()) {
  held = block::push_only(256);
  mode = spec_mode::record;
  make();
  mode = spec_mode::lex;
  Cell* none = block::push_only(1);
  std::vector<uint8_t> image = kezbin::encode_pool(none, held);
  stack::pop(2);
  held = nullptr;
  return image;
}

void replay_routine_specs(std::span<const uint8_t> image, std::span<const uint32_t> hashes,
                          void (*make)()) {
  held = block::push_only(256);
  kezbin::boot_load(image.data(), image.size(), held, true, hashes);
  mode = spec_mode::replay;
  next = 0;
  make();
  mode = spec_mode::lex;
  stack::pop(1);
  held = nullptr;
}

Cell* push_routine(const spec_text& spec, routines::routine_fn fn) {
  lex_spec(spec);
  return routine_in_place(fn);
}

void define_routine(const char* name, std::string_view spec, routines::routine_fn fn) {
  bind_routine(name, push_routine(spec_text(spec, spec_hash(spec)), fn));
}

void define_routine(const char* name, const Cell* spec_block, routines::routine_fn fn) {
  block::clone(spec_block, true, false);
  bind_routine(name, routine_in_place(fn));
}

void define_routines(std::span<const routine_entry> table) {
  for (const auto& r : table) bind_routine(r.name, push_routine(r.spec, r.fn));
}

void make_routines() {
  define_routines(ROUTINES);
  make_type_tests();
  make_json_routines();
  make_preprocessor_routines();
  image::make_routines();
  clipboard::make_routines();
}

}  // namespace kez::boot
