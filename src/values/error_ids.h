// Error categories and ids, numbered as the catalogue system/catalog/errors
// orders them: code = category x 100 + id. The order is fixed; the boot
// catalogue must list the same ids in the same order.
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

namespace throw_ {
enum : int {
  BREAK = 0,
  RETURN = 1,
  THROW = 2,
  CONTINUE = 3,
  WHILE_COND = 4,
};
}  // namespace throw_

namespace note {
enum : int {
  NO_LOAD = 0,
};
}  // namespace note

namespace syntax {
enum : int {
  INVALID = 0,
  MISSING = 1,
  NO_HEADER = 2,
  NO_RS_HEADER = 3,
  BAD_HEADER = 4,
  MALCONSTRUCT = 5,
  BAD_CHAR = 6,
};
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
}  // namespace script

namespace math {
enum : int {
  ZERO_DIVIDE = 0,
  OVERFLOW = 1,
  POSITIVE = 2,
};
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
}  // namespace access

namespace user {
enum : int {
  MESSAGE = 0,
};
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
}  // namespace internal

}  // namespace kez::err
