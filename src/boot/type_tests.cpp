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
  uint32_t type;
  routines::routine_fn fn;
};

template <uint32_t Type>
constexpr type_test test_of(const char* name) {
  return {name, Type, is_type<Type>};
}

// In the order the tests are defined.
constexpr type_test TYPE_TESTS[] = {
    test_of<TYPE_BITSET>("bitset?"),       test_of<TYPE_BINARY>("binary?"),
    test_of<TYPE_BLOCK>("block?"),         test_of<TYPE_CHAR>("char?"),
    test_of<TYPE_EMAIL>("email?"),         test_of<TYPE_FILE>("file?"),
    test_of<TYPE_FLOAT>("float?"),         test_of<TYPE_GET_PATH>("get-path?"),
    test_of<TYPE_GET_WORD>("get-word?"),   test_of<TYPE_HASH>("hash?"),
    test_of<TYPE_INTEGER>("integer?"),     test_of<TYPE_ISSUE>("issue?"),
    test_of<TYPE_LIT_PATH>("lit-path?"),   test_of<TYPE_LIT_WORD>("lit-word?"),
    test_of<TYPE_LOGIC>("logic?"),         test_of<TYPE_MAP>("map?"),
    test_of<TYPE_NONE>("none?"),           test_of<TYPE_PAIR>("pair?"),
    test_of<TYPE_PAREN>("paren?"),         test_of<TYPE_PATH>("path?"),
    test_of<TYPE_PERCENT>("percent?"),     test_of<TYPE_REFINEMENT>("refinement?"),
    test_of<TYPE_SET_PATH>("set-path?"),   test_of<TYPE_SET_WORD>("set-word?"),
    test_of<TYPE_STRING>("string?"),       test_of<TYPE_TAG>("tag?"),
    test_of<TYPE_TIME>("time?"),           test_of<TYPE_TYPESET>("typeset?"),
    test_of<TYPE_TUPLE>("tuple?"),         test_of<TYPE_UNSET>("unset?"),
    test_of<TYPE_URL>("url?"),             test_of<TYPE_WORD>("word?"),
    test_of<TYPE_IMAGE>("image?"),         test_of<TYPE_DATE>("date?"),
    test_of<TYPE_MONEY>("money?"),         test_of<TYPE_REF>("ref?"),
    test_of<TYPE_POINT2D>("point2D?"),     test_of<TYPE_POINT3D>("point3D?"),
    test_of<TYPE_HANDLE>("handle?"),       test_of<TYPE_ERROR>("error?"),
    test_of<TYPE_ACTION>("action?"),       test_of<TYPE_NATIVE>("native?"),
    test_of<TYPE_DATATYPE>("datatype?"),   test_of<TYPE_FUNCTION>("function?"),
    test_of<TYPE_OBJECT>("object?"),       test_of<TYPE_OP>("op?"),
    test_of<TYPE_ROUTINE>("routine?"),     test_of<TYPE_VECTOR>("vector?"),
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
  for (const auto& t : TYPE_TESTS) {
    define_routine(t.name, spec, t.fn);
    routines::mark_type_test(t.type);
  }
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
