// Math natives: bit shifts, hexadecimal issues, trigonometry in degrees or
// radians, logarithms and roots, and the makers of pairs and points.
//
// All floating-point work is IEEE double arithmetic through the C library;
// domain errors are not errors (they give NaN or an infinity). Conversions
// to 32 bits never go through an undefined cast: a float that does not fit
// is refused before it is converted. Every native writes its result over
// its first argument cell.
#include <cmath>
#include <limits>
#include <numbers>

#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/float_text.h"
#include "foundation/raise.h"
#include "types/pair.h"
#include "types/point.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

constexpr double PI = std::numbers::pi;
constexpr double EPSILON = 2.220446049250313e-16;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

// An integer!, percent! or float! argument as a double; the cell becomes a
// plain float! holding it.
double to_float_arg(Cell* c) {
  double d = TYPE_OF(c) == TYPE_INTEGER ? double(get_integer(c)) : get_float(c);
  *c = make_float(d);
  return d;
}

void box_float(double d) { *arg(0) = make_float(d); }

// Which way an angle in degrees is folded before it becomes radians.
enum : int32_t { FOLD_TANGENT = 0, FOLD_COSINE = 1, FOLD_SINE = 2 };

double angle_arg(const int32_t* refs, int32_t fold) {
  double a = to_float_arg(arg(0));
  return refs[0] >= 0 ? a : runtime::to_radians(a, fold);
}

// sine and cosine of a whole angle in degrees give exact zeros, not the
// residue of pi's rounding.
double snap(double r) { return std::fabs(r) < EPSILON ? 0.0 : r; }

double to_degrees(const int32_t* refs, double radians) {
  return refs[0] >= 0 ? radians : radians * 180.0 / PI;
}

}  // namespace

void shift_star(bool, const int32_t* refs) {
  int32_t data = get_integer(arg(0));
  int32_t bits = get_integer(arg(1));
  if (bits < 0) bits = 0;
  int32_t r;
  if (refs[0] >= 0) {
    r = bits > 31 ? 0 : int32_t(uint32_t(data) << bits);
  } else if (refs[1] >= 0) {
    r = bits > 31 ? 0 : int32_t(uint32_t(data) >> bits);
  } else {
    r = bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
  }
  *arg(0) = make_integer(r);
}

void to_hex_star(bool, const int32_t* refs) {
  uint32_t v = arg(0)->w2;
  int32_t digits = 8;
  if (refs[0] >= 0) {
    Cell length = *arg(refs[0]);
    int32_t n = get_integer(&length);
    if (n <= 0) fire(err::SCRIPT, err::script::INVALID_ARG, &length);
    if (n < 8) digits = n;
  }
  static constexpr char HEX[] = "0123456789ABCDEF";
  char text[9];
  for (int i = 0; i < 8; i++) text[i] = HEX[(v >> (28 - 4 * i)) & 0xF];
  text[8] = 0;
  *arg(0) = word::make(TYPE_ISSUE, context::global_node, symbol::make(text + 8 - digits),
                       context::NO_INDEX);
}

void sine_star(bool, const int32_t* refs) { box_float(snap(std::sin(angle_arg(refs, FOLD_SINE)))); }

void cosine_star(bool, const int32_t* refs) {
  box_float(snap(std::cos(angle_arg(refs, FOLD_COSINE))));
}

void tangent_star(bool, const int32_t* refs) {
  double a = angle_arg(refs, FOLD_TANGENT);
  constexpr double INF = std::numeric_limits<double>::infinity();
  if (a == PI / 2.0) box_float(INF);
  else if (a == PI / -2.0) box_float(-INF);
  else box_float(std::tan(a));
}

void arcsine_star(bool, const int32_t* refs) {
  box_float(to_degrees(refs, std::asin(to_float_arg(arg(0)))));
}

void arccosine_star(bool, const int32_t* refs) {
  box_float(to_degrees(refs, std::acos(to_float_arg(arg(0)))));
}

void arctangent_star(bool, const int32_t* refs) {
  box_float(to_degrees(refs, std::atan(to_float_arg(arg(0)))));
}

void arctangent2_star(bool, const int32_t* refs) {
  double y = to_float_arg(arg(0));
  double x = to_float_arg(arg(1));
  double r = std::atan2(y, x);
  if (refs[0] < 0) r *= 180.0 / PI;
  box_float(r);
}

void log_2_star(bool, const int32_t*) { box_float(std::log(to_float_arg(arg(0))) / LN_2); }
void log_10_star(bool, const int32_t*) { box_float(std::log10(to_float_arg(arg(0)))); }
void log_e_star(bool, const int32_t*) { box_float(std::log(to_float_arg(arg(0)))); }
void exp_star(bool, const int32_t*) { box_float(std::pow(E, to_float_arg(arg(0)))); }
void square_root_star(bool, const int32_t*) { box_float(std::sqrt(to_float_arg(arg(0)))); }

// Coordinates of a pair are integers: a float is truncated toward zero, and
// one that is not finite or leaves 32 bits is refused with invalid-arg.
void as_pair_star(bool, const int32_t*) {
  int32_t x = pair::get_int(arg(0));
  int32_t y = pair::get_int(arg(1));
  *arg(0) = Cell{TYPE_UNSET, 0, 0, 0};
  pair::make_at(arg(0), x, y);
}

namespace {
float single_of(const Cell* c) {
  return TYPE_OF(c) == TYPE_INTEGER ? float(get_integer(c)) : point::to_single(get_float(c));
}
}  // namespace

void as_point2d_star(bool, const int32_t*) {
  float x = single_of(arg(0)), y = single_of(arg(1));
  *arg(0) = Cell{TYPE_UNSET, 0, 0, 0};
  point2D::make_at(arg(0), x, y);
}

void as_point3d_star(bool, const int32_t*) {
  float x = single_of(arg(0)), y = single_of(arg(1)), z = single_of(arg(2));
  *arg(0) = Cell{TYPE_UNSET, 0, 0, 0};
  point3D::make_at(arg(0), x, y, z);
}

}  // namespace kez::natives
