// The table of every estimate of dev.dat, sorted by investment, object and price base.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace varmex::grupdev {

struct EstimateRow {
  std::array<char, 6> key{};
  int16_t investment = 0;
  int16_t object = 0;
  int16_t priceBase = 0;
  std::string_view Key() const { return std::string_view(key.data(), key.size()); }
};

// Rows numbered from 1, as the sort and the groups see them.
using EstimateTable = std::vector<EstimateRow>;

// True for a key of letters, digits and " $!@/-." that is not "$" and five digits.
bool IsEstimateKey(std::string_view key);

// compare(i, j): negative, zero or positive as row i sorts before, with or after row j.
using CompareRows = std::function<int16_t(int32_t, int32_t)>;
using SwapRows = std::function<void(int32_t, int32_t)>;

// Sorts positions 1..n of a table that only `compare` and `swap` touch: a quicksort
// with a median of three and an explicit stack, insertion sort below 8 positions. The
// order it leaves equal rows in decides the order of a GRUPDEV's members, so it is
// kept exactly as it is.
void SortIndexed(int32_t n, const CompareRows& compare, const SwapRows& swap);

// By investment, then object, then price base, ascending as signed numbers.
int16_t CompareEstimates(const EstimateTable& table, int32_t i, int32_t j);
void SwapEstimates(EstimateTable& table, int32_t i, int32_t j);

// SortIndexed over the whole table with CompareEstimates and SwapEstimates.
void SortEstimates(EstimateTable& table);

}  // namespace varmex::grupdev
