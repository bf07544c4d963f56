// mold/all's proof by scanning back: see mold_proof.h.
//
// Scanning costs a block and a symbol lookup, so the common word spelled in
// lower-case letters, digits and hyphens, which always reads as itself, is
// let through without it, and so is a word already proven and a path of
// such words. The text is checked in the lexer's scan mode first, which
// reports a syntax error as a result instead of raising it.
#include "evaluator/mold_proof.h"

#include <string>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::mold_proof {

namespace {

// A word's text that reads back as the same word whatever its kind: a
// lower-case letter, then letters, digits, "-", "?", "!", "*" or "_".
bool plain_name(std::string_view s) {
  if (s.empty() || s[0] < 'a' || s[0] > 'z') return false;
  for (char c : s) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '?' || c == '!' || c == '*' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// The text without its one-character prefix or suffix, for the word kinds.
std::string_view name_of(std::string_view text, uint32_t type) {
  switch (type) {
    case TYPE_SET_WORD: return text.substr(0, text.empty() ? 0 : text.size() - 1);
    case TYPE_WORD: return text;
    default: return text.substr(text.empty() ? 0 : 1);
  }
}

bool reads_back(const Cell* value, const std::string& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  auto size = uint32_t(text.size());
  Cell* saved = stack::top;
  Cell* dst = stack::push_unset();
  lexer::scan_options check;
  check.not_scan = false;
  bool ok = lexer::scan_buffer(dst, bytes, size, check, nullptr) != int32_t(TYPE_ERROR);
  if (ok) {
    lexer::scan_buffer(dst, bytes, size, lexer::scan_options{}, nullptr);
    ok = block::rs_length(dst) == 1 &&
         actions::compare_values(value, block::rs_head(dst), COMP_STRICT_EQUAL) == 0;
  }
  stack::top = saved;
  return ok;
}

// Words whose text was proven, by kind and symbol: a word's text depends on
// nothing else, and code repeats its words.
constexpr uint32_t PROVEN_SIZE = 4096;  // a power of two
uint32_t proven[PROVEN_SIZE];

inline uint32_t word_key(const Cell* w) { return (w->w2 << 5 | TYPE_OF(w)) + 1; }

// A path of words with plain names (a/b/c, :a/b, a/b:): its text reads
// back as itself. A name proven as a word alone is not enough: "<" is a
// word, but "a/<:" reads as a path ending in the word "<:".
bool plain_path(const Cell* path) {
  Cell p = *path;
  int32_t n = block::rs_length(&p);
  if (n < 2) return false;
  const Cell* e = block::rs_head(&p);
  for (int32_t i = 0; i < n; i++) {
    uint32_t t = TYPE_OF(e + i);
    if (!(t == TYPE_WORD || (i > 0 && t == TYPE_GET_WORD))) return false;
    if (!plain_name(symbol::to_cstr(e[i].w2))) return false;
  }
  return true;
}

}  // namespace

bool needs_proof(uint32_t type) {
  return word::is_any_word(type) || type == TYPE_ISSUE || block::is_path_type(type) ||
         type == TYPE_URL || type == TYPE_FILE || type == TYPE_EMAIL || type == TYPE_TAG ||
         type == TYPE_REF;
}

void prove(const Cell* value, const Cell* out, uint32_t start) {
  uint32_t type = TYPE_OF(value);
  bool word = word::is_any_word(type) || type == TYPE_ISSUE;
  uint32_t key = word ? word_key(value) : 0;
  uint32_t& slot = proven[key & (PROVEN_SIZE - 1)];
  if (word && slot == key) return;
  if (block::is_path_type(type) && plain_path(value)) return;
  Cell written = *out;
  written.w1 = start;
  std::string text = string::to_utf8(&written);
  Cell v = *value;
  if (!(word && plain_name(name_of(text, type))) && !reads_back(&v, text))
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  if (word) slot = key;
}

}  // namespace kez::mold_proof
