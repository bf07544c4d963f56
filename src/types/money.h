// money!: exact decimal amounts with an optional currency.
//
// The value and its arithmetic are the decimal engine's (money_decimal.h);
// this module gives them their place in the language: the currency list
// (system/locale/currencies/list, whose 1-based positions are the stored
// indexes; only the first 255 entries fit the index byte), conversions from
// and to integers, floats and text, the text forms and the actions with
// their currency rules.
#pragma once
#include <cstdint>
#include <string_view>

#include "types/money_decimal.h"
#include "values/cell.h"

namespace kez::money {

// The 1-based index of a currency word, or of a currency code given as
// three letters (any case); -1 when it is not in the list.
int32_t find_currency(const Cell* word);
int32_t find_currency_code(std::string_view code);
// The word of a currency index (1-based), none! when there is none.
Cell currency_word(uint32_t index);

// Writes a money! into the cell from the parts of its text: the integer
// digits (read from the last backwards into positions 17, 16, ...) and the
// fraction digits (from the first into positions 18-22), "'" skipped, extra
// digits dropped. `code` is a currency code of 3 letters or empty. Returns
// nullptr (the cell unchanged) for an unknown currency.
Cell* make_at_digits(Cell* cell, bool negative, std::string_view code, std::string_view integer,
                     std::string_view fraction);
// Writes a money! from its sign, currency index and 11 packed digit bytes.
Cell* make_at(Cell* cell, bool negative, uint32_t currency, const uint8_t* packed);
Cell* push_new(bool negative, uint32_t currency, const uint8_t* packed);

Cell from_integer(int32_t n);
int32_t to_integer(const Cell* money);  // script type-limit beyond 32 bits
// A float as money: infinity, NaN, |x| >= 1e17, 0 < |x| < 1e-5 and, when
// strict, more than 5 fraction digits raise script bad-make-arg.
Cell from_float(double x, bool strict);
double to_float(const Cell* money);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// Appends the text of the amount: "-", the currency, "$", the integer part
// (grouped by "'" with `grouping`) and the fraction (all 5 digits with
// `all_digits`, else system/options/money-digits of them). Returns the
// budget less the characters written.
int32_t form_text(const Cell* money, Cell* out, int32_t part, bool all_digits, bool grouping);

// Arithmetic of the current frame (or of two cells, the result in `left`)
// where either operand is money!.
Cell* do_math(Cell* left, Cell* right, int32_t op);
void do_math(int32_t op);

void init();  // registers money!

}  // namespace kez::money
