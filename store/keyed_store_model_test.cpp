// Random writes, replaces and deletes on small files, checked against a map after
// every step: every record reads back whole and the file stays structurally sound.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "store/keyed_store.h"
#include "store/store_test_support.h"
#include "store/verify.h"

namespace varmex::store {
namespace {

using testing::MemoryBlockFile;

struct ModelRun {
  int32_t blocks;
  int keyLength;
  size_t keys;
  size_t maxData;
  unsigned seed;
  int steps;
};

class KeyedStoreModelTest : public ::testing::TestWithParam<ModelRun> {};

std::string KeyName(size_t i, int keyLength) {
  std::string k = std::to_string(i);
  k.insert(k.begin(), 'R');
  k.resize(static_cast<size_t>(keyLength), '_');
  return k;
}

TEST_P(KeyedStoreModelTest, RandomOperationsMatchAMap) {
  const ModelRun run = GetParam();
  MemoryBlockFile f(run.blocks);
  std::mt19937 rng(run.seed);
  std::map<std::string, std::vector<uint8_t>> model;
  const int16_t kl = static_cast<int16_t>(run.keyLength);
  const size_t capacity = static_cast<size_t>(run.blocks - 1) * kBlockBytes;
  int fullAnswers = 0;

  for (int step = 0; step < run.steps; ++step) {
    const std::string key = KeyName(rng() % run.keys, run.keyLength);
    const std::vector<uint8_t> keyBytes(key.begin(), key.end());
    size_t live = 0;
    for (const auto& [k, r] : model) live += r.size() + static_cast<size_t>(kl) + 2;
    if (rng() % 4 == 0) {
      const int16_t st = KeyedDelete(keyBytes, kl, f.n(), f.unit(), HashSelector::kVariableLength);
      if (model.erase(key) != 0) {
        ASSERT_EQ(st, kKeyedDone) << "step " << step;
      } else {
        ASSERT_TRUE(st == kKeyedNotFound || st == kKeyedFull)
            << "step " << step << " status " << st;
      }
    } else {
      const size_t data = 2 * (1 + rng() % (run.maxData / 2));
      const std::vector<uint8_t> record =
          testing::MakeRecord(key, data, static_cast<unsigned>(step));
      const WriteResult w = KeyedWrite(record, kl, f.n(), f.unit(), HashSelector::kVariableLength);
      if (w.status == kKeyedFull) {
        // Only a walk that ran out of blocks answers 3; in a lightly used file that
        // never happens.
        ASSERT_GT(live + record.size() * 3, capacity / 3)
            << "step " << step << ": full in a light file";
        ++fullAnswers;
        // The record may be left without its last piece; deleting it cleans up.
        const int16_t st =
            KeyedDelete(keyBytes, kl, f.n(), f.unit(), HashSelector::kVariableLength);
        ASSERT_TRUE(st == kKeyedDone || st == kKeyedNotFound || st == kKeyedFull) << st;
        model.erase(key);
      } else {
        ASSERT_EQ(w.status, kKeyedDone) << "step " << step;
        model[key] = record;
      }
    }

    for (const auto& [k, record] : model) {
      std::vector<uint8_t> buffer(record.size() + 2, 0);
      std::copy(k.begin(), k.end(), buffer.begin());
      const ReadResult r = KeyedRead(buffer, kl, f.n(), f.unit(), HashSelector::kVariableLength, 0);
      ASSERT_EQ(r.status, kKeyedDone) << "step " << step << " key " << k;
      ASSERT_EQ(r.length, static_cast<int32_t>(record.size())) << "step " << step << " key " << k;
      ASSERT_TRUE(std::equal(record.begin(), record.end(), buffer.begin()))
          << "step " << step << " key " << k;
    }
    const VerifyReport report = VerifyBlockImage(f.image(), f.n());
    ASSERT_TRUE(report.ok()) << "step " << step << "\n" << FormatProblems(report);
    ASSERT_EQ(report.records, static_cast<int64_t>(model.size())) << "step " << step;
  }
  RecordProperty("full_answers", fullAnswers);
}

INSTANTIATE_TEST_SUITE_P(
    SmallFiles, KeyedStoreModelTest,
    ::testing::Values(ModelRun{4, 4, 30, 300, 1, 1500}, ModelRun{6, 8, 60, 140, 2, 1500},
                      ModelRun{3, 10, 12, 900, 3, 1500}, ModelRun{9, 6, 150, 40, 4, 1500},
                      ModelRun{2, 4, 8, 120, 5, 1500}, ModelRun{16, 8, 20, 200, 6, 800}));

}  // namespace
}  // namespace varmex::store
