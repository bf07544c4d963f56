// Error categories and ids, numbered as the catalogue system/catalog/errors
// orders them: code = category x 100 + id. The order is fixed; the boot
// catalogue lists the same ids in the same order.
#pragma once

namespace kez::err {

enum category : int {
  THROW = 0,
  NOTE = 1,
  SYNTAX = 2,
  SCRIPT = 3,
  MATH = 4,
  ACCESS = 5,
  RESERVED1 = 6,
  RESERVED2 = 7,
  USER = 8,
  INTERNAL = 9,
};
constexpr int CATEGORY_COUNT = 10;

namespace throw_ {
enum : int {
  BREAK = 0,
  RETURN = 1,
  THROW = 2,
  CONTINUE = 3,
  WHILE_COND = 4,
};
inline constexpr const char* NAMES[] = {"break", "return", "throw", "continue", "while-cond"};
inline constexpr int COUNT = 5;
}  // namespace throw_

namespace note {
enum : int {
  NO_LOAD = 0,
};
inline constexpr const char* NAMES[] = {"no-load"};
inline constexpr int COUNT = 1;
}  // namespace note

namespace syntax {
enum : int {
  INVALID = 0,
  MISSING = 1,
  NO_HEADER = 2,
  NO_KS_HEADER = 3,
  BAD_HEADER = 4,
  MALCONSTRUCT = 5,
  BAD_CHAR = 6,
};
inline constexpr const char* NAMES[] = {"invalid", "missing", "no-header", "no-ks-header", "bad-header", "malconstruct", "bad-char"};
inline constexpr int COUNT = 7;
}  // namespace syntax

namespace script {
enum : int {
  NO_VALUE = 0,
  NEED_VALUE = 1,
  NOT_DEFINED = 2,
  NOT_IN_CONTEXT = 3,
  NO_ARG = 4,
  EXPECT_ARG = 5,
  EXPECT_VAL = 6,
  EXPECT_TYPE = 7,
  CANNOT_USE = 8,
  INVALID_ARG = 9,
  INVALID_TYPE = 10,
  INVALID_TYPE_SPEC = 11,
  INVALID_KEY_TYPE = 12,
  INVALID_OP = 13,
  NO_OP_ARG = 14,
  BAD_OP_SPEC = 15,
  INVALID_DATA = 16,
  INVALID_PART = 17,
  NOT_SAME_TYPE = 18,
  NOT_SAME_CLASS = 19,
  NOT_RELATED = 20,
  BAD_FUNC_DEF = 21,
  BAD_FUNC_ARG = 22,
  BAD_FUNC_EXTERN = 23,
  NO_REFINE = 24,
  BAD_REFINES = 25,
  BAD_REFINE = 26,
  DUP_REFINE = 27,
  WORD_FIRST = 28,
  EMPTY_PATH = 29,
  UNSET_PATH = 30,
  INVALID_PATH = 31,
  INVALID_PATH_SET = 32,
  INVALID_PATH_GET = 33,
  BAD_PATH_TYPE = 34,
  BAD_PATH_TYPE2 = 35,
  BAD_PATH_SET = 36,
  BAD_FIELD_SET = 37,
  DUP_VARS = 38,
  PAST_END = 39,
  MISSING_ARG = 40,
  OUT_OF_RANGE = 41,
  INVALID_CHARS = 42,
  INVALID_COMPARE = 43,
  WRONG_TYPE = 44,
  INVALID_REFINE_ARG = 45,
  TYPE_LIMIT = 46,
  SIZE_LIMIT = 47,
  NO_RETURN = 48,
  THROW_USAGE = 49,
  LOCKED_WORD = 50,
  PROTECTED = 51,
  BAD_BAD = 52,
  BAD_MAKE_ARG = 53,
  BAD_TO_ARG = 54,
  INVALID_MONTHS = 55,
  INVALID_SPEC_FIELD = 56,
  MISSING_SPEC_FIELD = 57,
  MOVE_BAD = 58,
  TOO_LONG = 59,
  INVALID_CHAR = 60,
  BAD_LOOP_SERIES = 61,
  WRONG_DENOM = 62,
  BAD_DENOM = 63,
  INVALID_OBJ_EVT = 64,
  PARSE_RULE = 65,
  PARSE_END = 66,
  PARSE_INVALID_REF = 67,
  PARSE_BLOCK = 68,
  PARSE_UNSUPPORTED = 69,
  PARSE_INFINITE = 70,
  PARSE_STACK = 71,
  PARSE_KEEP = 72,
  PARSE_INTO_BAD = 73,
  PARSE_INTO_TYPE = 74,
  DRAW_INVALID = 75,
  DRAW_INFINITE = 76,
  INVALID_DATA_FACET = 77,
  FACE_TYPE = 78,
  NOT_WINDOW = 79,
  BAD_WINDOW = 80,
  NOT_LINKED = 81,
  NOT_EVENT_TYPE = 82,
  INVALID_FACET_TYPE = 83,
  VID_INVALID_SYNTAX = 84,
  RTD_INVALID_SYNTAX = 85,
  RTD_NO_MATCH = 86,
  REACT_BAD_FUNC = 87,
  REACT_NOT_ENOUGH = 88,
  REACT_NO_MATCH = 89,
  REACT_BAD_OBJ = 90,
  REACT_GCTX = 91,
  LIB_INVALID_ARG = 92,
  KB_INVALID_RECORD = 93,
};
inline constexpr const char* NAMES[] = {"no-value", "need-value", "not-defined", "not-in-context", "no-arg", "expect-arg", "expect-val", "expect-type", "cannot-use", "invalid-arg", "invalid-type", "invalid-type-spec", "invalid-key-type", "invalid-op", "no-op-arg", "bad-op-spec", "invalid-data", "invalid-part", "not-same-type", "not-same-class", "not-related", "bad-func-def", "bad-func-arg", "bad-func-extern", "no-refine", "bad-refines", "bad-refine", "dup-refine", "word-first", "empty-path", "unset-path", "invalid-path", "invalid-path-set", "invalid-path-get", "bad-path-type", "bad-path-type2", "bad-path-set", "bad-field-set", "dup-vars", "past-end", "missing-arg", "out-of-range", "invalid-chars", "invalid-compare", "wrong-type", "invalid-refine-arg", "type-limit", "size-limit", "no-return", "throw-usage", "locked-word", "protected", "bad-bad", "bad-make-arg", "bad-to-arg", "invalid-months", "invalid-spec-field", "missing-spec-field", "move-bad", "too-long", "invalid-char", "bad-loop-series", "wrong-denom", "bad-denom", "invalid-obj-evt", "parse-rule", "parse-end", "parse-invalid-ref", "parse-block", "parse-unsupported", "parse-infinite", "parse-stack", "parse-keep", "parse-into-bad", "parse-into-type", "draw-invalid", "draw-infinite", "invalid-data-facet", "face-type", "not-window", "bad-window", "not-linked", "not-event-type", "invalid-facet-type", "vid-invalid-syntax", "rtd-invalid-syntax", "rtd-no-match", "react-bad-func", "react-not-enough", "react-no-match", "react-bad-obj", "react-gctx", "lib-invalid-arg", "kb-invalid-record"};
inline constexpr int COUNT = 94;
}  // namespace script

namespace math {
enum : int {
  ZERO_DIVIDE = 0,
  OVERFLOW = 1,
  POSITIVE = 2,
};
inline constexpr const char* NAMES[] = {"zero-divide", "overflow", "positive"};
inline constexpr int COUNT = 3;
}  // namespace math

namespace access {
enum : int {
  CANNOT_OPEN = 0,
  CANNOT_CLOSE = 1,
  INVALID_UTF8 = 2,
  NOT_OPEN = 3,
  NO_CONNECT = 4,
  NO_SCHEME = 5,
  UNKNOWN_SCHEME = 6,
  INVALID_SPEC = 7,
  INVALID_PORT = 8,
  INVALID_ACTOR = 9,
  NO_PORT_ACTION = 10,
  NO_CREATE = 11,
  NO_CODEC = 12,
  BAD_MEDIA = 13,
  INVALID_CMD = 14,
};
inline constexpr const char* NAMES[] = {"cannot-open", "cannot-close", "invalid-utf8", "not-open", "no-connect", "no-scheme", "unknown-scheme", "invalid-spec", "invalid-port", "invalid-actor", "no-port-action", "no-create", "no-codec", "bad-media", "invalid-cmd"};
inline constexpr int COUNT = 15;
}  // namespace access

namespace reserved1 {
inline constexpr const char* NAMES[] = {nullptr};
inline constexpr int COUNT = 0;
}  // namespace reserved1

namespace reserved2 {
inline constexpr const char* NAMES[] = {nullptr};
inline constexpr int COUNT = 0;
}  // namespace reserved2

namespace user {
enum : int {
  MESSAGE = 0,
};
inline constexpr const char* NAMES[] = {"message"};
inline constexpr int COUNT = 1;
}  // namespace user

namespace internal {
enum : int {
  BAD_PATH = 0,
  NOT_HERE = 1,
  NO_MEMORY = 2,
  WRONG_MEM = 3,
  STACK_OVERFLOW = 4,
  LIMIT_HIT = 5,
  TOO_DEEP = 6,
  NO_CYCLE = 7,
  FEATURE_NA = 8,
  NOT_DONE = 9,
  INVALID_ERROR = 10,
  ROUTINES = 11,
  KEZ_SYSTEM = 12,
  DEPRECATED = 13,
};
inline constexpr const char* NAMES[] = {"bad-path", "not-here", "no-memory", "wrong-mem", "stack-overflow", "limit-hit", "too-deep", "no-cycle", "feature-na", "not-done", "invalid-error", "routines", "kez-system", "deprecated"};
inline constexpr int COUNT = 14;
}  // namespace internal

// Category words and titles, by category number.
inline constexpr const char* CATEGORY_NAMES[] = {"throw", "note", "syntax", "script", "math", "access", "reserved1", "reserved2", "user", "internal"};
inline constexpr const char* CATEGORY_TITLES[] = {"Throw Error", "note", "Syntax Error", "Script Error", "Math Error", "Access Error", "Reserved1 Error", "Reserved2 Error", "User Error", "Internal Error"};
inline constexpr const char* const* ID_NAMES[] = {throw_::NAMES, note::NAMES, syntax::NAMES, script::NAMES, math::NAMES, access::NAMES, reserved1::NAMES, reserved2::NAMES, user::NAMES, internal::NAMES};
inline constexpr int ID_COUNTS[] = {throw_::COUNT, note::COUNT, syntax::COUNT, script::COUNT, math::COUNT, access::COUNT, reserved1::COUNT, reserved2::COUNT, user::COUNT, internal::COUNT};

}  // namespace kez::err
