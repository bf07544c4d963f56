// The boot routines.
//
// A routine reads its arguments at stack::arguments[i] (in spec order; the
// interpreter has checked their types) and leaves its result in
// stack::arguments[0], like a native.
#include "boot/routines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/output.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/simple_types.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::boot {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

void quit_return() {
  platform::before_exit();
  runtime::exit_process(get_integer(arg(0)));
}

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

void tracing_q() { *arg(0) = make_logic(interpreter::tracing); }

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

void count_chars() {
  Cell start = *arg(0), pos = *arg(1);
  series_buffer* b = GET_BUFFER(&start);
  const uint8_t* p = b->head_ptr() + start.w1;
  const uint8_t* end = b->head_ptr() + std::min(pos.w1, b->used());
  *arg(0) = make_integer(p < end ? int32_t(unicode::count_chars(p, end)) : 0);
}

struct routine_entry {
  const char* name;
  const char* spec;
  routines::routine_fn fn;
};

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
};

}  // namespace

void make_routines() {
  for (const auto& r : ROUTINES) {
    uint32_t code = routines::add(r.fn);
    std::string_view spec_text(r.spec);
    Cell* spec = lexer::scan_utf8(spec_text.data(), uint32_t(spec_text.size()));
    routine::push(spec, code);
    Cell value = *stack::top_cell();
    Cell w = word::make_global(symbol::make(r.name));
    word::set(&w, &value);
    stack::pop(2);
  }
}

}  // namespace kez::boot
