// The type tests (`block?`, `series?` ...): routines that answer whether a
// value is of one datatype or of one of the standard typesets.
//
// They are called everywhere, so each is one comparison of the type byte
// (datatype tests) or one word lookup and one bit test (typeset tests). A
// typeset test reads its typeset word's value at every call: redefining
// `number!` changes what `number?` answers. A typeset word that no longer
// holds a typeset answers false. No test raises an error.
#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "boot/routines.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "values/context.h"
#include "values/function.h"
#include "values/symbol.h"
#include "values/typeset.h"
#include "values/word.h"

namespace kez::boot {

namespace {

template <uint32_t Type>
void is_type() {
  Cell* v = stack::arguments;
  *v = make_logic(TYPE_OF(v) == Type);
}

struct type_test {
  const char* name;
  routines::routine_fn fn;
};

// In the order the tests are defined.
constexpr type_test TYPE_TESTS[] = {
    {"bitset?", is_type<TYPE_BITSET>},       {"binary?", is_type<TYPE_BINARY>},
    {"block?", is_type<TYPE_BLOCK>},         {"char?", is_type<TYPE_CHAR>},
    {"email?", is_type<TYPE_EMAIL>},         {"file?", is_type<TYPE_FILE>},
    {"float?", is_type<TYPE_FLOAT>},         {"get-path?", is_type<TYPE_GET_PATH>},
    {"get-word?", is_type<TYPE_GET_WORD>},   {"hash?", is_type<TYPE_HASH>},
    {"integer?", is_type<TYPE_INTEGER>},     {"issue?", is_type<TYPE_ISSUE>},
    {"lit-path?", is_type<TYPE_LIT_PATH>},   {"lit-word?", is_type<TYPE_LIT_WORD>},
    {"logic?", is_type<TYPE_LOGIC>},         {"map?", is_type<TYPE_MAP>},
    {"none?", is_type<TYPE_NONE>},           {"pair?", is_type<TYPE_PAIR>},
    {"paren?", is_type<TYPE_PAREN>},         {"path?", is_type<TYPE_PATH>},
    {"percent?", is_type<TYPE_PERCENT>},     {"refinement?", is_type<TYPE_REFINEMENT>},
    {"set-path?", is_type<TYPE_SET_PATH>},   {"set-word?", is_type<TYPE_SET_WORD>},
    {"string?", is_type<TYPE_STRING>},       {"tag?", is_type<TYPE_TAG>},
    {"time?", is_type<TYPE_TIME>},           {"typeset?", is_type<TYPE_TYPESET>},
    {"tuple?", is_type<TYPE_TUPLE>},         {"unset?", is_type<TYPE_UNSET>},
    {"url?", is_type<TYPE_URL>},             {"word?", is_type<TYPE_WORD>},
    {"image?", is_type<TYPE_IMAGE>},         {"date?", is_type<TYPE_DATE>},
    {"money?", is_type<TYPE_MONEY>},         {"ref?", is_type<TYPE_REF>},
    {"point2D?", is_type<TYPE_POINT2D>},     {"point3D?", is_type<TYPE_POINT3D>},
    {"handle?", is_type<TYPE_HANDLE>},       {"error?", is_type<TYPE_ERROR>},
    {"action?", is_type<TYPE_ACTION>},       {"native?", is_type<TYPE_NATIVE>},
    {"datatype?", is_type<TYPE_DATATYPE>},   {"function?", is_type<TYPE_FUNCTION>},
    {"object?", is_type<TYPE_OBJECT>},       {"op?", is_type<TYPE_OP>},
    {"routine?", is_type<TYPE_ROUTINE>},     {"vector?", is_type<TYPE_VECTOR>},
};

// The typeset tests, each with the word it reads.
constexpr const char* TYPESET_TESTS[][2] = {
    {"any-list?", "any-list!"},   {"any-block?", "any-block!"},
    {"any-function?", "any-function!"}, {"any-object?", "any-object!"},
    {"any-path?", "any-path!"},   {"any-string?", "any-string!"},
    {"any-word?", "any-word!"},   {"series?", "series!"},
    {"number?", "number!"},       {"immediate?", "immediate!"},
    {"scalar?", "scalar!"},       {"all-word?", "all-word!"},
    {"any-point?", "any-point!"}, {"planar?", "planar!"},
};
constexpr size_t TYPESET_COUNT = std::size(TYPESET_TESTS);

// Global words of the typesets; they hold no series, only the global
// context's node, which is always alive.
Cell typeset_words[TYPESET_COUNT];

template <size_t I>
void in_typeset() {
  Cell* v = stack::arguments;
  const Cell* ts = word::get_value_or_null(&typeset_words[I]);
  *v = make_logic(ts && TYPE_OF(ts) == TYPE_TYPESET && typeset::has(ts, TYPE_OF(v)));
}

template <size_t... I>
constexpr auto typeset_fns(std::index_sequence<I...>) {
  return std::array<routines::routine_fn, sizeof...(I)>{in_typeset<I>...};
}
constexpr auto TYPESET_FNS = typeset_fns(std::make_index_sequence<TYPESET_COUNT>());


}  // namespace

void make_type_tests() {
  // Every type test has the same spec: lexed once, copied for each.
  constexpr std::string_view TEST_SPEC =
      R"("Returns true if the value is this type" value [any-type!] return: [logic!])";
  Cell* spec = lex_spec(TEST_SPEC);
  for (const auto& t : TYPE_TESTS) define_routine(t.name, spec, t.fn);
  stack::pop(1);
  for (size_t i = 0; i < TYPESET_COUNT; i++) {
    typeset_words[i] = routine_word(TYPESET_TESTS[i][1]);
    std::string_view ts(TYPESET_TESTS[i][1]);
    std::string spec = "\"Returns true if the value is any type of ";
    spec.append(ts.substr(0, ts.size() - 1));
    spec += "\" value [any-type!] return: [logic!]";
    define_routine(TYPESET_TESTS[i][0], spec, TYPESET_FNS[i]);
  }
}

}  // namespace kez::boot
