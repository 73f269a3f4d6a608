// The estimate table: the key test, the comparison and the indexed sort.
#include "grupdev/estimate_table.h"

#include <utility>

namespace varmex::grupdev {
namespace {

bool IsKeyCharacter(char c) {
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= 'a' && c <= 'z') return true;
  if (c >= '0' && c <= '9') return true;
  switch (c) {
    case ' ':
    case '$':
    case '!':
    case '@':
    case '/':
    case '-':
    case '.':
      return true;
    default:
      return false;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int16_t Sign(int a, int b) { return static_cast<int16_t>(a < b ? -1 : (a > b ? 1 : 0)); }

}  // namespace

bool IsEstimateKey(std::string_view key) {
  if (key.size() != 6) return false;
  for (char c : key) {
    if (!IsKeyCharacter(c)) return false;
  }
  if (key[0] == '$') {
    bool allDigits = true;
    for (size_t i = 1; i < 6; ++i) allDigits = allDigits && IsDigit(key[i]);
    if (allDigits) return false;
  }
  return true;
}

void SortIndexed(int32_t n, const CompareRows& compare, const SwapRows& swap) {
  constexpr int32_t kInsertionBelow = 8;
  std::vector<std::pair<int32_t, int32_t>> pending;
  int32_t lo = 1;
  int32_t hi = n;
  for (;;) {
    if (hi - lo + 1 < kInsertionBelow) {
      for (int32_t k = lo + 1; k <= hi; ++k) {
        for (int32_t p = k; p > lo && compare(p, p - 1) < 0; --p) swap(p, p - 1);
      }
      if (pending.empty()) return;
      lo = pending.back().first;
      hi = pending.back().second;
      pending.pop_back();
      continue;
    }
    // Median of three: afterwards row lo+1 <= row lo <= row hi, so both scans stop
    // inside the range; row lo is the pivot.
    const int32_t mid = (lo + hi) / 2;
    swap(lo, mid);
    int32_t i = lo + 1;
    int32_t j = hi;
    if (compare(i, j) > 0) swap(i, j);
    if (compare(i, lo) > 0) {
      swap(i, lo);
    } else if (compare(lo, j) > 0) {
      swap(lo, j);
    }
    for (;;) {
      do {
        ++i;
      } while (compare(i, lo) < 0);
      do {
        --j;
      } while (compare(j, lo) > 0);
      if (i > j) break;
      swap(i, j);
    }
    swap(lo, j);
    if ((j - 1) - lo + 1 > hi - i + 1) {
      pending.emplace_back(lo, j - 1);
      lo = i;
    } else {
      pending.emplace_back(i, hi);
      hi = j;
    }
  }
}

int16_t CompareEstimates(const EstimateTable& table, int32_t i, int32_t j) {
  const EstimateRow& a = table[static_cast<size_t>(i - 1)];
  const EstimateRow& b = table[static_cast<size_t>(j - 1)];
  if (a.investment != b.investment) return Sign(a.investment, b.investment);
  if (a.object != b.object) return Sign(a.object, b.object);
  return Sign(a.priceBase, b.priceBase);
}

void SwapEstimates(EstimateTable& table, int32_t i, int32_t j) {
  std::swap(table[static_cast<size_t>(i - 1)], table[static_cast<size_t>(j - 1)]);
}

void SortEstimates(EstimateTable& table) {
  SortIndexed(
      static_cast<int32_t>(table.size()),
      [&table](int32_t i, int32_t j) { return CompareEstimates(table, i, j); },
      [&table](int32_t i, int32_t j) { SwapEstimates(table, i, j); });
}

}  // namespace varmex::grupdev
