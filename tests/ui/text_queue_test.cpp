// Fixed-width texts, queues and guarded values.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "timing.h"
#include "ui/guarded.h"
#include "ui/queue.h"
#include "ui/text.h"

namespace {

// ---- Texts ------------------------------------------------------------------------------------------

template <std::size_t N>
void checkZTextEveryWidth() {
  for (std::size_t len = 0; len <= N + 3; ++len) {
    const std::string src(len, 'x');
    ui::ZText<N> t(src);
    EXPECT_EQ(t.length(), std::min(len, N - 1));
    EXPECT_EQ(t.c_str()[t.length()], '\0');
  }
}

template <std::size_t N>
void checkPTextEveryWidth() {
  for (std::size_t len = 0; len <= N + 3; ++len) {
    ui::PText<N> t(std::string(len, 'y'));
    EXPECT_EQ(t.view().size(), N);
    EXPECT_EQ(t.length(), std::min(len, N));
    EXPECT_EQ(t.view().find_first_not_of(' ', std::min(len, N)), std::string_view::npos);
  }
}

TEST(Text, AssignmentCutsAtEveryWidthAndNeverOverflows) {
  checkZTextEveryWidth<1>();
  checkZTextEveryWidth<2>();
  checkZTextEveryWidth<20>();
  checkZTextEveryWidth<260>();
  checkPTextEveryWidth<1>();
  checkPTextEveryWidth<13>();
  checkPTextEveryWidth<256>();
  ui::ZText<1> empty("anything");
  EXPECT_TRUE(empty.empty());
  static_assert(sizeof(ui::ZText<40>) == 40 && sizeof(ui::PText<20>) == 20);
}

// Whatever the width, a cut text is whole characters: "ü" (2 bytes), "€" (3), "😀" (4) are kept or
// left out whole, and what is kept is the longest start that fits.
TEST(Text, CutsFallOnCharacterBoundaries) {
  const std::string mixed =
      "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"
      "b";                                                       // a ü € 😀 b
  const std::vector<std::size_t> starts = {0, 1, 3, 6, 10, 11};  // where each character begins
  for (std::size_t width = 0; width <= mixed.size() + 1; ++width) {
    std::size_t expected = 0;
    for (std::size_t b : starts)
      if (b <= width) expected = b;
    if (width >= mixed.size()) expected = mixed.size();
    EXPECT_EQ(ui::utf8Fit(mixed, width), mixed.substr(0, expected)) << width;
  }
  ui::ZText<5> z(mixed);  // 4 bytes of room: "aü", not "aü" and half of "€"
  EXPECT_EQ(z.view(), "a\xC3\xBC");
  ui::PText<5> p(mixed);
  EXPECT_EQ(p.view(), "a\xC3\xBC  ");
  // Not UTF-8 (a Latin-1 "é", stray continuation bytes): cut at the width, as before.
  EXPECT_EQ(ui::utf8Fit("caf\xE9 noir", 4), "caf\xE9");
  EXPECT_EQ(ui::utf8Fit("ab\x80\x80\x80\x80", 4), "ab\x80\x80");
  EXPECT_EQ(ui::utf8Fit("\x80\x80\x80\x80\x80", 2), "\x80\x80");
}

TEST(Text, ComparisonsIgnoreTrailingBlanksAndClipRemovesThem) {
  ui::PText<20> p("abc");
  ui::ZText<20> z("abc   ");
  EXPECT_TRUE(p == "abc");
  EXPECT_TRUE(z == "abc");
  EXPECT_TRUE(z == std::string_view("abc    "));
  EXPECT_FALSE(z == " abc");
  EXPECT_EQ(z.view(), "abc   ");
  EXPECT_EQ(z.clip(), "abc");
  EXPECT_EQ(p.str(), "abc");
  EXPECT_TRUE((ui::ZText<5>("b") <=> "a  ") > 0);
  EXPECT_TRUE(ui::ZText<5>("ab") == ui::ZText<9>("ab   "));
  EXPECT_EQ(ui::trim("  a b  "), "a b");
  EXPECT_TRUE(ui::PText<4>("    ").blank());
  EXPECT_TRUE(ui::ZText<4>("   ").blank());
}

TEST(Text, SelfAssignmentAndEmbeddedNulAreSafe) {
  ui::ZText<10> z("abcdefghi");
  z = z.view().substr(3);
  EXPECT_EQ(z.view(), "defghi");
  ui::PText<6> p(std::string_view("a\0b", 3));
  EXPECT_EQ(p.view(), "a b   ");
  ui::ZText<6> n(static_cast<const char*>(nullptr));
  EXPECT_TRUE(n.empty());
  EXPECT_EQ(ui::cat("a", std::string("b"), ui::ZText<4>("c")), "abc");
}

// ---- Queues ----------------------------------------------------------------------------------------

struct Rec {
  ui::ZText<20> NAME;
  int32_t LEVEL = 0;
  int32_t SIZE = 0;
};

Rec rec(std::string_view name, int level = 0, int size = 0) {
  Rec r;
  r.NAME = name;
  r.LEVEL = level;
  r.SIZE = size;
  return r;
}

std::vector<std::string> names(const ui::Queue<Rec>& q) {
  std::vector<std::string> out;
  q.forEach([&](std::size_t, const Rec& r) { out.push_back(r.NAME.str()); });
  return out;
}

TEST(Queue, PositionsAreOneBasedAndOutOfRangeIsRefused) {
  ui::Queue<Rec> q;
  Rec buf = rec("untouched");
  EXPECT_FALSE(q.get(1, buf));
  EXPECT_EQ(buf.NAME, "untouched");
  EXPECT_EQ(q.add(rec("a")), 1u);
  EXPECT_EQ(q.add(rec("c")), 2u);
  EXPECT_EQ(q.addAt(2, rec("b")), 2u);
  EXPECT_EQ(q.addAt(0, rec("x")), 0u);
  EXPECT_EQ(q.addAt(5, rec("x")), 0u);
  EXPECT_EQ(names(q), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_FALSE(q.get(0, buf));
  EXPECT_FALSE(q.get(4, buf));
  ASSERT_TRUE(q.get(3, buf));
  EXPECT_EQ(buf.NAME, "c");
  buf.SIZE = 7;
  EXPECT_TRUE(q.put(3, buf));
  EXPECT_FALSE(q.put(4, buf));
  EXPECT_TRUE(q.get(3, buf));
  EXPECT_EQ(buf.SIZE, 7);
  EXPECT_TRUE(q.del(1));
  EXPECT_FALSE(q.del(3));
  EXPECT_EQ(q.count(), 2u);
  q.free();
  EXPECT_EQ(q.count(), 0u);
  EXPECT_FALSE(q.del(1));
}

TEST(Queue, KeyOrderInsertGetByKeyAndFind) {
  ui::Queue<Rec> q;
  const auto byName = ui::by(&Rec::NAME);
  for (auto n : {"m", "c", "x", "a", "c"}) q.addSorted(rec(n, 1), byName);
  EXPECT_EQ(names(q), (std::vector<std::string>{"a", "c", "c", "m", "x"}));
  // Equal keys: the new record goes after the existing ones.
  q.addSorted(rec("c", 2), byName);
  Rec out;
  EXPECT_EQ(q.getByKey(rec("c"), byName, out), 2u);
  EXPECT_EQ(out.LEVEL, 1);
  ASSERT_TRUE(q.get(4, out));
  EXPECT_EQ(out.LEVEL, 2);
  EXPECT_EQ(q.getByKey(rec("b"), byName, out), 0u);
  EXPECT_EQ(q.getByKey(rec("zz"), byName, out), 0u);
  // Trailing blanks do not matter for keys.
  EXPECT_EQ(q.getByKey(rec("m   "), byName, out), 5u);
  EXPECT_EQ(q.find([](const Rec& r) { return r.NAME == "c"; }, out, 3), 3u);
  EXPECT_EQ(q.find([](const Rec& r) { return r.NAME == "q"; }, out), 0u);
}

TEST(Queue, MultiFieldAndDescendingSortsAreStable) {
  ui::Queue<Rec> q;
  q.add(rec("b", 2, 1));
  q.add(rec("a", 2, 2));
  q.add(rec("b", 1, 3));
  q.add(rec("a", 2, 4));
  q.sort(ui::by(&Rec::NAME, &Rec::LEVEL));
  std::vector<int> sizes;
  q.forEach([&](std::size_t, const Rec& r) { sizes.push_back(r.SIZE); });
  EXPECT_EQ(sizes, (std::vector<int>{2, 4, 3, 1}));
  q.sort(ui::byDescending(&Rec::SIZE));
  EXPECT_EQ(names(q), (std::vector<std::string>{"a", "b", "a", "b"}));
}

TEST(Queue, DeleteRangeAcrossBlocksAndVersionMovesOnEveryChange) {
  ui::Queue<Rec> q;
  for (int i = 0; i < 1000; ++i) q.add(rec(std::to_string(i), 0, i));
  auto v = q.version();
  EXPECT_EQ(q.delRange(100, 500), 500u);
  EXPECT_GT(q.version(), v);
  EXPECT_EQ(q.count(), 500u);
  Rec r;
  q.get(99, r);
  EXPECT_EQ(r.SIZE, 98);
  q.get(100, r);
  EXPECT_EQ(r.SIZE, 599);
  EXPECT_EQ(q.delRange(450, 1000), 51u);
  EXPECT_EQ(q.delRange(0, 3), 0u);
  v = q.version();
  Rec unchanged;
  q.get(1, unchanged);
  EXPECT_EQ(q.version(), v);  // reading changes nothing
  q.put(1, unchanged);
  EXPECT_GT(q.version(), v);
  const auto snap = q.snapshot();
  EXPECT_EQ(snap.size(), q.count());
}

TEST(Queue, LockedCompoundChangeSeesOneConsistentQueue) {
  ui::Queue<Rec> q;
  for (int i = 0; i < 10; ++i) q.add(rec("n", 1, i));
  const int total = q.locked([](auto& a) {
    int sum = 0;
    for (std::size_t p = 1; p <= a.count(); ++p) {
      Rec* r = a.at(p);
      r->SIZE *= 2;
      sum += r->SIZE;
    }
    a.del(1);
    return sum;
  });
  EXPECT_EQ(total, 90);
  EXPECT_EQ(q.count(), 9u);
}

TEST(Queue, InsertInKeyOrderAndDeletingRunsOfAHundredThousandStayFast) {
  ui::Queue<Rec> q;
  std::mt19937 rng(7);
  const auto byName = ui::by(&Rec::NAME);
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 100000; ++i) q.addSorted(rec(std::to_string(rng() % 1000000), 0, i), byName);
  // Delete runs of 50 from the middle until half is gone, as subtree pruning does.
  while (q.count() > 50000) q.delRange(q.count() / 2, 50);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  // Quadratic storage would move some 10^10 bytes here, seconds on end; the blocked queue takes about
  // 0.3 s in a plain build on a busy machine.
  std::printf("100,000 inserts in key order and 1,000 runs deleted: %lld ms\n", static_cast<long long>(ms));
  EXPECT_LT(std::chrono::milliseconds(ms), testsupport::scaled(std::chrono::seconds(3)));
  Rec prev, cur;
  q.get(1, prev);
  for (std::size_t p = 2; p <= q.count(); ++p) {
    q.get(p, cur);
    ASSERT_FALSE(byName(cur, prev)) << p;
    prev = cur;
  }
}

TEST(Queue, TwoThreadsAddingAndReadingNeverSeeHalfARecord) {
  ui::Queue<Rec> q;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      q.forEach([](std::size_t, const Rec& r) { ASSERT_EQ(r.LEVEL, r.SIZE * 2); });
      Rec r;
      if (q.get(q.count(), r)) {
        ASSERT_EQ(r.LEVEL, r.SIZE * 2);
      }
    }
  });
  std::thread writer([&] {
    for (int i = 0; i < 5000; ++i) q.addSorted(rec(std::to_string(i), i * 2, i), ui::by(&Rec::NAME));
  });
  for (int i = 0; i < 2000; ++i) q.add(rec("z", i * 2, i));
  writer.join();
  stop = true;
  reader.join();
  EXPECT_EQ(q.count(), 7000u);
}

// ---- Guarded ---------------------------------------------------------------------------------------

TEST(Guarded, ConcurrentWritersAndReadersSeeWholeTexts) {
  ui::Guarded<ui::ZText<40>> g;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) g = (i % 2) ? std::string(39, 'a') : std::string(39, 'b');
    stop = true;
  });
  while (!stop) {
    const auto v = g.get();
    const std::string_view s = v.view();
    ASSERT_TRUE(s.empty() || s == std::string(39, 'a') || s == std::string(39, 'b'));
  }
  writer.join();
  g.with([](ui::ZText<40>& t) { t = "changed"; });
  EXPECT_EQ(g.get(), "changed");
  EXPECT_EQ(g.with([](const ui::ZText<40>& t) { return t.length(); }), 7u);
}

}  // namespace
