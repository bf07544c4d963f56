// Blocks and the series actions: positions and clamping, insertion with its
// mends, search, copy, text with new-line markers and cycles, comparison,
// sorting and set operations, paths and parens, and the shared helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/memory.h"
#include "value_test_support.h"
#include "values/error_ids.h"
#include "values/path.h"
#include "values/series.h"
#include "values/support.h"
#include "values/symbol.h"
#include "values/typeset.h"
#include "values/word.h"

using namespace kez;
using kez::test::mold_text;
using kez::test::form_text;
using kez::test::push_block;
using kez::test::raised;
using kez::test::raises;

namespace {

struct Blocks : testing::Test {
  Cell* saved = nullptr;
  uint32_t stress = 0;
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
    stress = memory::stress_interval;
  }
  void TearDown() override {
    stack::top = saved;
    memory::stress_interval = stress;
  }
};

Cell I(int32_t v) { return make_integer(v); }
Cell W(const char* name) { return word::make_global(symbol::make(name)); }
Cell NL(Cell c) {
  c.header |= CELL_NEW_LINE;
  return c;
}

// The actions through the registry, as the dispatcher calls them.
Cell* append(Cell* b, Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
  Cell* held = stack::push(v);
  return actions::get_append(b)(b, held, part, only, dup);
}
Cell* insert(Cell* b, Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
  Cell* held = stack::push(v);
  return actions::get_insert(b)(b, held, part, only, dup);
}
Cell* change(Cell* b, Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
  Cell* held = stack::push(v);
  return actions::get_change(b)(b, held, part, only, dup);
}
Cell find(Cell b, Cell v, find_options o = {}) {
  Cell* r = stack::push(b);
  Cell* value = stack::push(v);
  actions::get_find(r)(r, value, o);
  return *r;
}
Cell select(Cell b, Cell v, find_options o = {}) {
  Cell* r = stack::push(b);
  Cell* value = stack::push(v);
  actions::get_select(r)(r, value, o);
  return *r;
}
Cell copy(Cell b, const Cell* part = nullptr, bool deep = false) {
  Cell* v = stack::push(b);
  Cell* out = stack::push_unset();
  actions::get_copy(v)(v, out, part, deep, nullptr);
  return *out;
}
Cell* sort(Cell* b, sort_options o = {}) { return actions::get_sort(b)(b, o); }
Cell set_op(Cell a, const Cell* b, int32_t op, const Cell* skip = nullptr, bool cs = false) {
  Cell* r = stack::push(a);
  block::do_set_op(r, b, op, cs, skip);
  return *r;
}
Cell at(Cell s, int32_t i) {
  Cell* r = stack::push(s);
  Cell index = I(i);
  actions::get_at(r)(r, &index);
  return *r;
}
Cell skip(Cell s, int32_t i) {
  Cell* r = stack::push(s);
  Cell index = I(i);
  actions::get_skip(r)(r, &index);
  return *r;
}
Cell with_head(Cell b, uint32_t head) {
  b.w1 = head;
  return b;
}

}  // namespace

TEST_F(Blocks, HeadMovesClampAndNeverRaise) {
  Cell b = *push_block({I(1), I(2), I(3)});
  struct Case {
    Cell got;
    uint32_t head;
  } cases[] = {
      {at(b, 0), 0},           {at(b, 1), 0},          {at(b, -1), 0},
      {at(b, 3), 2},           {at(b, 9), 3},          {skip(b, 2), 2},
      {skip(b, 9), 3},         {skip(with_head(b, 2), -9), 0},
      {at(with_head(b, 2), 0), 2}, {at(with_head(b, 2), -1), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got.w1, c.head);
  Cell* t = stack::push(with_head(b, 3));
  actions::get_next(t)(t);
  EXPECT_EQ(t->w1, 3u);
  actions::get_back(t)(t);
  EXPECT_EQ(t->w1, 2u);
  // A head left past the tail by another value is clamped by length?.
  Cell* s = stack::push(with_head(b, 3));
  block::rs_clear(stack::push(with_head(b, 1)));
  EXPECT_EQ(actions::get_length_q(s)(s), 0);
  EXPECT_EQ(series::get_length(s, false), 0);
  EXPECT_EQ(s->w1, 1u);
}

TEST_F(Blocks, PickAndPokeCountFromTheHead) {
  Cell b = with_head(*push_block({I(10), I(20), I(30), I(40)}), 2);
  auto pick = [&](int32_t n) {
    Cell* r = stack::push(b);
    Cell index = I(n);
    actions::get_pick(r)(r, n, &index);
    return *r;
  };
  Cell c = pick(1);
  EXPECT_EQ(get_integer(&c), 30);
  c = pick(-1);
  EXPECT_EQ(get_integer(&c), 20);
  c = pick(-2);
  EXPECT_EQ(get_integer(&c), 10);
  EXPECT_EQ(TYPE_OF(&(c = pick(0))), TYPE_NONE);
  EXPECT_EQ(TYPE_OF(&(c = pick(-3))), TYPE_NONE);
  EXPECT_EQ(TYPE_OF(&(c = pick(3))), TYPE_NONE);

  Cell* target = stack::push(b);
  Cell v = I(99), index = I(0);
  auto poke0 = raised([&] { actions::get_poke(target)(target, 0, &v, &index); });
  EXPECT_TRUE(raises(poke0, err::SCRIPT, err::script::OUT_OF_RANGE));
  EXPECT_EQ(mold_text(with_head(b, 0)), "[10 20 30 40]");
  *target = b;
  actions::get_poke(target)(target, -1, &v, &index);
  EXPECT_EQ(mold_text(with_head(b, 0)), "[10 99 30 40]");
}

TEST_F(Blocks, AppendAndInsertSpreadBlocksAndRespectOnlyPartDup) {
  Cell* b = push_block({I(1), I(2)});
  append(b, *push_block({I(3), I(4)}));
  EXPECT_EQ(mold_text(*b), "[1 2 3 4]");
  EXPECT_EQ(b->w1, 0u);

  Cell* o = push_block({I(1), I(2)});
  append(o, *push_block({I(3), I(4)}), -1, true);
  EXPECT_EQ(mold_text(*o), "[1 2 [3 4]]");

  Cell* n = push_block({I(1), I(2)});
  n->w1 = 1;
  insert(n, I(9));
  EXPECT_EQ(n->w1, 2u);
  EXPECT_EQ(mold_text(with_head(*n, 0)), "[1 9 2]");

  Cell* d = push_block({});
  append(d, I(0), -1, false, 5);
  EXPECT_EQ(mold_text(*d), "[0 0 0 0 0]");
  Cell* p = push_block({I(1)});
  append(p, *push_block({I(7), I(8), I(9)}), 2, false, 3);
  EXPECT_EQ(mold_text(*p), "[1 7 8 7 8 7 8]");

  // A count of zero or below inserts nothing (it would move memory by a
  // negative size).
  for (int32_t dup : {0, -1, -5}) {
    Cell* z = push_block({I(1), I(2)});
    insert(z, *push_block({I(5), I(6)}), -1, false, dup);
    append(z, I(7), -1, false, dup);
    change(z, I(8), -1, false, dup);
    EXPECT_EQ(mold_text(with_head(*z, 0)), "[1 2]") << dup;
  }
  Cell* e = push_block({I(1)});
  append(e, *push_block({}));
  EXPECT_EQ(mold_text(*e), "[1]");
}

TEST_F(Blocks, InsertingABlockIntoItself) {
  Cell* b = push_block({I(1), I(2), I(3)});
  Cell self = *b;
  append(b, self);
  EXPECT_EQ(mold_text(*b), "[1 2 3 1 2 3]");
  Cell* c = push_block({I(1), I(2), I(3)});
  c->w1 = 1;
  Cell whole = with_head(*c, 0);
  insert(c, whole);
  EXPECT_EQ(mold_text(with_head(*c, 0)), "[1 1 2 3 2 3]");
  EXPECT_EQ(c->w1, 4u);
  Cell* d = push_block({I(1), I(2), I(3)});
  Cell tail_part = with_head(*d, 1);
  change(d, tail_part, -1, false, 2);
  EXPECT_EQ(mold_text(with_head(*d, 0)), "[2 3 2 3]");
}

TEST_F(Blocks, ChangeOverwritesAndRemovesByPart) {
  struct Case {
    std::vector<int32_t> start;
    std::vector<int32_t> value;
    int32_t part, dup;
    std::string result;
    uint32_t head;
  } cases[] = {
      {{1, 2, 3}, {7, 8}, -1, 1, "[7 8 3]", 2},
      {{1, 2, 3}, {7, 8, 9, 10}, -1, 1, "[7 8 9 10]", 4},
      {{1, 2, 3}, {7}, 2, 1, "[7 3]", 1},
      {{1, 2, 3}, {7, 8}, 0, 1, "[7 8 1 2 3]", 2},
      {{1, 2, 3, 4}, {7}, -1, 3, "[7 7 7 4]", 3},
  };
  for (const Case& c : cases) {
    Cell* b = push_block({});
    for (int32_t n : c.start) {
      Cell x = I(n);
      block::rs_append(b, &x);
    }
    Cell* v = push_block({});
    for (int32_t n : c.value) {
      Cell x = I(n);
      block::rs_append(v, &x);
    }
    change(b, *v, c.part, false, c.dup);
    EXPECT_EQ(mold_text(with_head(*b, 0)), c.result);
    EXPECT_EQ(b->w1, c.head);
  }
}

TEST_F(Blocks, FindWithEveryRefinement) {
  Cell abc = *push_block({W("a"), W("b"), W("c")});
  Cell pairs = *push_block({W("a"), I(1), W("b"), I(2)});
  Cell aba = *push_block({W("a"), W("b"), W("a")});
  Cell nums = *push_block({I(1), I(2), I(3)});
  Cell nested = *push_block({I(1), *push_block({I(2), I(3)})});
  Cell two_three = *push_block({I(2), I(3)});
  Cell ints = make_datatype(TYPE_INTEGER);
  Cell skip2 = I(2), part2 = I(2);
  auto opts = [](auto set) {
    find_options o;
    set(o);
    return o;
  };
  struct Case {
    Cell block;
    Cell value;
    find_options o;
    int32_t head;  // -1: none
  } cases[] = {
      {abc, W("b"), {}, 1},
      {abc, W("b"), opts([](find_options& o) { o.tail = true; }), 2},
      {aba, W("a"), opts([](find_options& o) { o.last = true; }), 2},
      {with_head(aba, 3), W("a"), opts([](find_options& o) { o.reverse = true; }), 2},
      {with_head(aba, 2), W("a"), opts([](find_options& o) { o.reverse = true; }), 0},
      {pairs, W("b"), opts([&](find_options& o) { o.skip = &skip2; }), 2},
      {pairs, I(1), opts([&](find_options& o) { o.skip = &skip2; }), -1},
      {pairs, I(2), opts([&](find_options& o) { o.skip = &skip2; o.last = true; }), -1},
      {pairs, W("a"), opts([&](find_options& o) { o.skip = &skip2; o.last = true; }), 0},
      {nums, two_three, {}, 1},
      {nested, two_three, opts([](find_options& o) { o.only = true; }), 1},
      {nested, two_three, {}, -1},
      {pairs, ints, {}, 1},
      {abc, W("a"), opts([](find_options& o) { o.match = true; }), 1},
      {abc, W("b"), opts([](find_options& o) { o.match = true; }), -1},
      {abc, W("c"), opts([&](find_options& o) { o.part = &part2; }), -1},
      {abc, W("b"), opts([&](find_options& o) { o.part = &part2; }), 1},
      {with_head(abc, 3), W("a"), {}, -1},
  };
  int i = 0;
  for (const Case& c : cases) {
    Cell r = find(c.block, c.value, c.o);
    if (c.head < 0) {
      EXPECT_EQ(TYPE_OF(&r), TYPE_NONE) << "case " << i;
    } else {
      EXPECT_EQ(TYPE_OF(&r), TYPE_BLOCK) << "case " << i;
      EXPECT_EQ(r.w1, uint32_t(c.head)) << "case " << i;
    }
    i++;
  }
  Cell zero = I(0);
  auto bad = raised([&] { find(pairs, W("a"), opts([&](find_options& o) { o.skip = &zero; })); });
  EXPECT_TRUE(raises(bad, err::SCRIPT, err::script::OUT_OF_RANGE));
}

TEST_F(Blocks, SelectReturnsTheCellAfterTheMatch) {
  Cell pairs = *push_block({W("a"), I(1), W("b"), I(2)});
  Cell r = select(pairs, W("b"));
  EXPECT_EQ(get_integer(&r), 2);
  r = select(pairs, I(2));
  EXPECT_EQ(TYPE_OF(&r), TYPE_NONE);
  Cell seq = *push_block({I(1), I(2), I(3), I(4)});
  r = select(seq, *push_block({I(1), I(2)}));
  EXPECT_EQ(get_integer(&r), 3);
}

TEST_F(Blocks, CopyPartsAndDeepCopies) {
  Cell b = with_head(*push_block({I(1), I(2), I(3), I(4)}), 1);
  Cell minus1 = I(-1), two = I(2);
  EXPECT_EQ(mold_text(copy(b, &minus1)), "[1]");
  EXPECT_EQ(mold_text(copy(b, &two)), "[2 3]");
  EXPECT_EQ(mold_text(copy(b)), "[2 3 4]");
  Cell end = with_head(b, 3);
  EXPECT_EQ(mold_text(copy(b, &end)), "[2 3]");
  Cell pair{TYPE_PAIR, 0, 2, 3};
  EXPECT_EQ(mold_text(copy(b, &pair)), "[3]");
  Cell past = I(100);
  EXPECT_EQ(mold_text(copy(with_head(b, 4), &past)), "[]");
  Cell other = *push_block({I(1)});
  auto bad = raised([&] { copy(b, &other); });
  EXPECT_TRUE(raises(bad, err::SCRIPT, err::script::INVALID_REFINE_ARG));

  Cell* inner = push_block({I(1)});
  Cell* outer = push_block({*inner});
  Cell shallow = copy(*outer);
  Cell deep = copy(*outer, nullptr, true);
  EXPECT_EQ(block::rs_head(&shallow)[0].w2, inner->w2);
  EXPECT_NE(block::rs_head(&deep)[0].w2, inner->w2);
  EXPECT_EQ(mold_text(deep), "[[1]]");

  Cell* self = push_block({I(1)});
  block::rs_append(self, self);
  auto cyclic = raised([&] { copy(*self, nullptr, true); });
  EXPECT_TRUE(raises(cyclic, err::INTERNAL, err::internal::NO_CYCLE));
  EXPECT_EQ(mold_text(*push_block({I(5)})), "[5]");  // the guard was reset
}

TEST_F(Blocks, MoldAndFormWithCyclesAndNewLines) {
  Cell* self = push_block({I(1)});
  block::rs_append(self, self);
  EXPECT_EQ(mold_text(*self), "[1 [...]]");
  EXPECT_EQ(form_text(*self), "1 ...");

  Cell* lines = push_block({NL(W("a")), W("b"), NL(W("c"))});
  EXPECT_EQ(mold_text(*lines), "[\n    a b\n    c\n]");
  Cell* outer = push_block({NL(W("x")), NL(*lines)});
  EXPECT_EQ(mold_text(*outer), "[\n    x\n    [\n        a b\n        c\n    ]\n]");
  EXPECT_EQ(mold_text(*lines, false, true), "a b\nc");
  Cell* later = push_block({W("a"), NL(W("b"))});
  EXPECT_EQ(mold_text(*later), "[a\nb]");

  Cell* nested = push_block({I(1), *push_block({I(2), I(3)}), I(4)});
  EXPECT_EQ(form_text(*nested), "1 2 3 4");
  // The walk stops once the budget is spent; the caller cuts the text.
  EXPECT_EQ(mold_text(*nested, false, false, 4), "[1 []]");
}

TEST_F(Blocks, CompareByLengthThenCells) {
  Cell a = *push_block({I(1), I(2)});
  Cell b = *push_block({I(1), I(2), I(3)});
  Cell c = *push_block({I(1), I(2)});
  EXPECT_FALSE(actions::compare(&a, &b, COMP_EQUAL));
  EXPECT_TRUE(actions::compare(&a, &b, COMP_LESSER));
  EXPECT_TRUE(actions::compare(&a, &c, COMP_EQUAL));
  EXPECT_FALSE(actions::compare(&a, &c, COMP_SAME));
  Cell words = *push_block({W("a")});
  EXPECT_TRUE(actions::compare(&a, &words, COMP_LESSER));  // integer! sorts before word!
  Cell* self = push_block({I(1)});
  block::rs_append(self, self);
  Cell* twin = push_block({I(1)});
  block::rs_append(twin, twin);
  // Two blocks met again inside themselves at the same depth count as equal.
  EXPECT_TRUE(actions::compare(self, twin, COMP_EQUAL));
}

TEST_F(Blocks, SortWithRefinements) {
  auto sorted = [&](std::vector<Cell> cells, sort_options o) {
    Cell* b = push_block({});
    for (Cell& c : cells) block::rs_append(b, &c);
    sort(b, o);
    return mold_text(*b);
  };
  Cell two = I(2), three = I(3);
  sort_options rev;
  rev.reverse = true;
  sort_options skip2;
  skip2.skip = &two;
  sort_options by_second = skip2;
  by_second.comparator = &two;
  EXPECT_EQ(sorted({I(3), I(1), I(2)}, {}), "[1 2 3]");
  EXPECT_EQ(sorted({I(3), I(1), I(2)}, rev), "[3 2 1]");
  EXPECT_EQ(sorted({W("b"), I(2), W("a"), I(1)}, skip2), "[a 1 b 2]");
  EXPECT_EQ(sorted({W("b"), I(1), W("a"), I(2)}, by_second), "[b 1 a 2]");
  EXPECT_EQ(sorted({W("z"), I(5), *push_block({}), make_none()}, {}), "[none [] 5 z]");

  // Equal keys keep their order under /stable.
  sort_options stable = by_second;
  stable.stable = true;
  std::vector<Cell> recs;
  for (int32_t i = 0; i < 40; i++) {
    recs.push_back(I(i));
    recs.push_back(I(i % 3));
  }
  Cell* b = push_block({});
  for (Cell& c : recs) block::rs_append(b, &c);
  sort(b, stable);
  for (int32_t i = 1; i < 40; i++) {
    Cell* p = block::rs_head(b) + 2 * i;
    Cell* q = p - 2;
    if (get_integer(p + 1) == get_integer(q + 1)) EXPECT_LT(get_integer(q), get_integer(p));
    else EXPECT_LT(get_integer(q + 1), get_integer(p + 1));
  }

  Cell* target = push_block({W("b"), I(2), W("a")});
  struct Bad {
    sort_options o;
    int id;
  };
  sort_options not_multiple = skip2;
  sort_options all_alone;
  all_alone.all = true;
  sort_options offset_too_big = skip2;
  offset_too_big.comparator = &three;
  sort_options offset_alone;
  offset_alone.comparator = &two;
  Bad bad[] = {
      {not_multiple, err::script::INVALID_REFINE_ARG},
      {all_alone, err::script::BAD_REFINES},
      {offset_alone, err::script::BAD_REFINES},
  };
  for (const Bad& x : bad) {
    EXPECT_TRUE(raises(raised([&] { sort(target, x.o); }), err::SCRIPT, x.id));
    EXPECT_EQ(mold_text(*target), "[b 2 a]");
  }
  Cell* four_cells = push_block({W("b"), I(2), W("a"), I(1)});
  EXPECT_TRUE(raises(raised([&] { sort(four_cells, offset_too_big); }), err::SCRIPT,
                     err::script::OUT_OF_RANGE));
  EXPECT_EQ(mold_text(*four_cells), "[b 2 a 1]");
}

TEST_F(Blocks, SetOperations) {
  Cell a = *push_block({I(1), I(2), I(1), I(3)});
  Cell x = *push_block({I(1), I(2)});
  Cell y = *push_block({I(2), I(3)});
  Cell z = *push_block({I(1), I(2), I(3)});
  Cell w = *push_block({I(2), I(3), I(4)});
  Cell two = *push_block({I(2)});
  EXPECT_EQ(mold_text(set_op(a, nullptr, OP_UNIQUE)), "[1 2 3]");
  EXPECT_EQ(mold_text(set_op(x, &y, OP_UNION)), "[1 2 3]");
  EXPECT_EQ(mold_text(set_op(z, &w, OP_INTERSECT)), "[2 3]");
  EXPECT_EQ(mold_text(set_op(z, &two, OP_EXCLUDE)), "[1 3]");
  EXPECT_EQ(mold_text(set_op(x, &y, OP_DIFFERENCE)), "[1 3]");

  Cell recs = *push_block({W("a"), I(1), W("b"), I(2), W("a"), I(3)});
  Cell s2 = I(2), s0 = I(0);
  EXPECT_EQ(mold_text(set_op(recs, nullptr, OP_UNIQUE, &s2)), "[a 1 b 2]");
  EXPECT_TRUE(raises(raised([&] { set_op(recs, nullptr, OP_UNIQUE, &s0); }), err::SCRIPT,
                     err::script::INVALID_REFINE_ARG));
  Cell blocks = *push_block({*push_block({I(1)}), *push_block({I(1)}), *push_block({I(2)})});
  EXPECT_EQ(mold_text(set_op(blocks, nullptr, OP_UNIQUE)), "[[1] [2]]");
  Cell mixed = *push_block({I(1), make_float(1.0), I(1)});
  Cell u = set_op(mixed, nullptr, OP_UNIQUE);
  EXPECT_EQ(block::rs_length(&u), 2);
}

TEST_F(Blocks, RemoveTakeClearReverse) {
  Cell* b = push_block({I(1), I(2), I(3), I(4), I(5), I(6)});
  Cell* r = stack::push(with_head(*b, 1));
  Cell two = I(2);
  actions::get_remove(r)(r, &two, nullptr);
  EXPECT_EQ(mold_text(*b), "[1 4 5 6]");
  Cell zero = I(0);
  actions::get_remove(r)(r, &zero, nullptr);
  EXPECT_EQ(mold_text(*b), "[1 4 5 6]");
  Cell elsewhere = *push_block({I(1)});
  EXPECT_TRUE(raises(raised([&] { actions::get_remove(r)(r, &elsewhere, nullptr); }), err::SCRIPT,
                     err::script::INVALID_REFINE_ARG));

  auto take = [&](Cell s, const Cell* part, bool last) {
    Cell* t = stack::push(s);
    actions::get_take(t)(t, part, false, last);
    return *t;
  };
  Cell* c = push_block({I(1), I(2), I(3), I(4), I(5)});
  Cell v = take(*c, nullptr, false);
  EXPECT_EQ(get_integer(&v), 1);
  v = take(*c, nullptr, true);
  EXPECT_EQ(get_integer(&v), 5);
  EXPECT_EQ(mold_text(take(*c, &two, true)), "[3 4]");
  EXPECT_EQ(mold_text(*c), "[2]");
  Cell minus = I(-1);
  EXPECT_EQ(mold_text(take(with_head(*c, 1), &minus, false)), "[2]");
  EXPECT_EQ(TYPE_OF(&(v = take(*c, nullptr, false))), TYPE_NONE);

  Cell* d = push_block({I(1), I(2), I(3), I(4), I(5), I(6)});
  Cell* rv = stack::push(*d);
  Cell four = I(4), six = I(6);
  actions::get_reverse(rv)(rv, nullptr, &two);
  EXPECT_EQ(mold_text(*d), "[5 6 3 4 1 2]");
  EXPECT_TRUE(raises(raised([&] { actions::get_reverse(rv)(rv, nullptr, &four); }), err::SCRIPT,
                     err::script::INVALID_REFINE_ARG));
  actions::get_reverse(rv)(rv, nullptr, &six);
  EXPECT_EQ(mold_text(*d), "[5 6 3 4 1 2]");
  Cell three = I(3);
  actions::get_reverse(rv)(rv, &three, nullptr);
  EXPECT_EQ(mold_text(*d), "[3 6 5 4 1 2]");

  Cell* cl = stack::push(with_head(*d, 2));
  actions::get_clear(cl)(cl);
  EXPECT_EQ(mold_text(*d), "[3 6]");
}

TEST_F(Blocks, MoveWithinAndBetweenBlocks) {
  Cell* b = push_block({I(1), I(2), I(3), I(4), I(5)});
  Cell* src = stack::push(*b);
  Cell* dst = stack::push(with_head(*b, 2));
  actions::get_move(src)(src, dst, nullptr);
  EXPECT_EQ(mold_text(*b), "[2 3 1 4 5]");
  *dst = with_head(*b, 5);
  actions::get_move(src)(src, dst, nullptr);
  EXPECT_EQ(mold_text(*b), "[3 1 4 5 2]");
  Cell two = I(2);
  *src = with_head(*b, 3);
  *dst = *b;
  actions::get_move(src)(src, dst, &two);
  EXPECT_EQ(mold_text(*b), "[5 2 3 1 4]");

  Cell* other = push_block({I(8), I(9)});
  *src = *b;
  *dst = with_head(*other, 1);
  actions::get_move(src)(src, dst, &two);
  EXPECT_EQ(mold_text(*b), "[3 1 4]");
  EXPECT_EQ(mold_text(*other), "[8 5 2 9]");
  Cell* text = test::push_string("ab");
  EXPECT_TRUE(raises(raised([&] { actions::get_move(src)(src, text, nullptr); }), err::SCRIPT,
                     err::script::MOVE_BAD));
}

TEST_F(Blocks, SwapTrimPutAndPathAccess) {
  Cell* a = push_block({I(1), I(2)});
  Cell* b = push_block({I(3)});
  Cell* sa = stack::push(with_head(*a, 1));
  actions::get_swap(sa)(sa, b);
  EXPECT_EQ(mold_text(*a), "[1 3]");
  EXPECT_EQ(mold_text(*b), "[2]");

  Cell* t = push_block({I(1), make_none(), I(2), make_none()});
  Cell* tt = stack::push(*t);
  actions::get_trim(tt)(tt, trim_options{});
  EXPECT_EQ(mold_text(*t), "[1 2]");

  Cell* m = push_block({W("a"), I(1)});
  Cell* pm = stack::push(*m);
  Cell key = W("a"), v = I(5), key2 = W("b");
  actions::get_put(pm)(pm, &key, &v, false);
  *pm = *m;
  actions::get_put(pm)(pm, &key2, &v, false);
  EXPECT_EQ(mold_text(*m), "[a 5 b 5]");

  Cell* parent = stack::push(*m);
  Cell* result = stack::push_unset();
  Cell element = W("b");
  path_step get{parent, &element, nullptr, nullptr, nullptr, nullptr, 1, false, false, false, true};
  actions::peek_eval_path(TYPE_BLOCK)(get, result);
  EXPECT_EQ(get_integer(result), 5);
  Cell nine = I(9);
  path_step set{parent, &element, &nine, nullptr, nullptr, nullptr, 1, false, false, true, true};
  actions::peek_eval_path(TYPE_BLOCK)(set, result);
  EXPECT_EQ(mold_text(*m), "[a 5 b 9]");
  Cell missing = W("zz");
  path_step bad{parent, &missing, &nine, nullptr, nullptr, nullptr, 1, false, false, true, true};
  EXPECT_TRUE(raises(raised([&] { actions::peek_eval_path(TYPE_BLOCK)(bad, result); }),
                     err::SCRIPT, err::script::BAD_PATH_SET));
}

TEST_F(Blocks, RandomShufflesAPermutationAndSeedsRepeatably) {
  std::vector<Cell> cells;
  for (int32_t i = 0; i < 50; i++) cells.push_back(I(i));
  Cell* b = push_block({});
  for (Cell& c : cells) block::rs_append(b, &c);
  auto shuffled = [&](Cell seed_source) {
    Cell* s = stack::push(seed_source);
    actions::get_random(s)(s, true, false, false);
    Cell* r = stack::push(copy(*b));
    actions::get_random(r)(r, false, false, false);
    return mold_text(*r);
  };
  Cell seed = *push_block({I(7)});
  std::string first = shuffled(seed), second = shuffled(seed);
  EXPECT_EQ(first, second);
  Cell* check = stack::push(copy(*b));
  actions::get_random(check)(check, false, false, false);
  sort(check);
  EXPECT_EQ(mold_text(*check), mold_text(*b));
  Cell* empty = push_block({});
  actions::get_random(empty)(empty, false, false, true);
  EXPECT_EQ(TYPE_OF(empty), TYPE_NONE);
}

TEST_F(Blocks, PathsAndParens) {
  Cell* p = push_block({W("a"), W("b"), W("c")});
  struct Case {
    uint32_t type;
    std::string text;
  } cases[] = {
      {TYPE_PATH, "a/b/c"},
      {TYPE_SET_PATH, "a/b/c:"},
      {TYPE_GET_PATH, ":a/b/c"},
      {TYPE_LIT_PATH, "'a/b/c"},
      {TYPE_PAREN, "(a b c)"},
  };
  for (const Case& c : cases) {
    Cell v = *p;
    v.header = c.type;
    EXPECT_EQ(mold_text(v), c.text);
  }
  Cell path = *p;
  path.header = TYPE_PATH;
  EXPECT_EQ(form_text(path), "a/b/c");
  Cell* self = push_block({W("a")});
  self->header = TYPE_PATH;
  block::rs_append(self, self);
  EXPECT_EQ(mold_text(*self), "a/...");

  Cell* made = stack::push_unset();
  Cell zero = I(0);
  actions::peek_make(TYPE_PATH)(made, &zero, TYPE_PATH);
  EXPECT_EQ(TYPE_OF(made), TYPE_PATH);
  EXPECT_EQ(block::rs_length(made), 0);
  EXPECT_GE(GET_BUFFER(made)->size, sizeof(Cell));
  Cell* bad = stack::push_unset();
  Cell text = *test::push_string("x");
  EXPECT_TRUE(raises(raised([&] { actions::peek_make(TYPE_PATH)(bad, &text, TYPE_PATH); }),
                     err::SCRIPT, err::script::BAD_MAKE_ARG));
  Cell ts = typeset::make_empty();
  actions::peek_to(TYPE_PATH)(made, &ts, TYPE_PATH);
  EXPECT_EQ(block::rs_length(made), 1);
  EXPECT_EQ(TYPE_OF(block::rs_head(made)), TYPE_TYPESET);

  EXPECT_EQ(actions::peek_sort(TYPE_PATH), nullptr);
  EXPECT_EQ(actions::peek_sort(TYPE_SET_PATH), nullptr);
  EXPECT_NE(actions::peek_sort(TYPE_PAREN), nullptr);
  EXPECT_NE(actions::peek_append(TYPE_GET_PATH), nullptr);
  Cell copied = copy(path);
  EXPECT_EQ(TYPE_OF(&copied), TYPE_PATH);
}

TEST_F(Blocks, MakeAndTo) {
  Cell* made = stack::push_unset();
  Cell n = I(10);
  actions::peek_make(TYPE_BLOCK)(made, &n, TYPE_BLOCK);
  EXPECT_EQ(block::rs_length(made), 0);
  EXPECT_GE(GET_BUFFER(made)->size, 10 * sizeof(Cell));
  Cell src = *push_block({I(1), I(2)});
  src.header = TYPE_PAREN;
  actions::peek_make(TYPE_BLOCK)(made, &src, TYPE_BLOCK);
  EXPECT_EQ(mold_text(*made), "[1 2]");
  EXPECT_NE(made->w2, src.w2);
  Cell one = I(1);
  actions::peek_to(TYPE_BLOCK)(made, &one, TYPE_BLOCK);
  EXPECT_EQ(mold_text(*made), "[1]");
  Cell ts = typeset::make_empty();
  typeset::set_bit(&ts, TYPE_INTEGER);
  typeset::set_bit(&ts, TYPE_BLOCK);
  actions::peek_to(TYPE_BLOCK)(made, &ts, TYPE_BLOCK);
  EXPECT_EQ(mold_text(*made), "[block! integer!]");
  Cell none = make_none();
  EXPECT_TRUE(raises(raised([&] { actions::peek_make(TYPE_BLOCK)(made, &none, TYPE_BLOCK); }),
                     err::SCRIPT, err::script::BAD_MAKE_ARG));
}

TEST_F(Blocks, SurviveBuffersMovingUnderStress) {
  if (!memory::stress_interval) memory::stress_interval = 2;
  Cell* b = push_block({});
  for (int32_t i = 0; i < 200; i++) append(b, I(i % 17));
  Cell* ins = push_block({I(-1), I(-2)});
  for (int32_t i = 0; i < 20; i++) insert(b, *ins, -1, false, 2);
  b->w1 = 0;
  change(b, *b, -1, false, 1);
  EXPECT_EQ(b->w1, 280u);
  b->w1 = 0;
  Cell u = set_op(*b, nullptr, OP_UNIQUE);
  Cell* us = stack::push(u);
  sort(us);
  EXPECT_EQ(mold_text(*us), "[-2 -1 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16]");
  sort_options stable;
  stable.stable = true;
  sort(b, stable);
  Cell d = copy(*push_block({*push_block({I(1), *push_block({I(2)})})}), nullptr, true);
  EXPECT_EQ(mold_text(d), "[[1 [2]]]");
}

TEST_F(Blocks, SupportRoutines) {
  struct Case {
    Cell value;
    int32_t result;
    bool raises;
  } cases[] = {
      {I(7), 7, false},
      {make_float(2147483647.0), 2147483647, false},
      {make_float(-1.5), -1, false},
      {make_float(2147483647.5), 0, true},
      {make_float(-2147483649.0), 0, true},
      {make_float(std::nan("")), 0, true},
  };
  for (const Case& c : cases) {
    int32_t got = 0;
    auto f = raised([&] { got = support::number_to_integer(&c.value); });
    if (c.raises) {
      EXPECT_TRUE(raises(f, err::SCRIPT, err::script::OUT_OF_RANGE));
    } else {
      EXPECT_EQ(got, c.result);
    }
  }
  uint8_t area[80] = {};
  for (int i = 0; i < 16; i++) area[i] = uint8_t(i + 1);
  EXPECT_EQ(support::repeat_fill(area, 16, 5), area + 80);
  for (int i = 0; i < 80; i++) EXPECT_EQ(area[i], uint8_t(i % 16 + 1));

  // select-key: the answer follows the key; switch mode wants a block after
  // it and answers none when there is none.
  Cell* frame = stack::top;
  Cell* old_args = stack::arguments;
  stack::arguments = frame;
  stack::push(I(2));
  stack::push(*push_block({I(1), W("x"), I(2), W("y")}));
  Cell* r = support::select_key(false, false);
  EXPECT_EQ(mold_text(*r), "y");
  frame[0] = I(2);
  frame[1] = *push_block({I(1), *push_block({}), I(2)});
  r = support::select_key(true, true);
  EXPECT_EQ(TYPE_OF(r), TYPE_NONE);
  frame[0] = I(2);
  frame[1] = *push_block({I(2), I(3), *push_block({W("z")})});
  r = support::select_key(true, true);
  EXPECT_EQ(mold_text(*r), "[z]");
  frame[0] = *push_block({});
  r = support::select_key(false, false);
  EXPECT_EQ(TYPE_OF(r), TYPE_NONE);
  frame[0] = *push_block({I(1), *push_block({I(2)})});
  support::form_limited(false, 3);
  EXPECT_EQ(string::to_utf8(frame), "1 2");
  stack::arguments = old_args;
}
