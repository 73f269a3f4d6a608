// The copy steps of the migration on a destination that fills up, or turns read-only,
// after the k-th copy, for every k (the copies kept for undoing included). A read-only
// destination: each copy that cannot be made is reported with the system's code and
// the file's name, the copy step goes on through every file, the pipeline goes on
// after it. A full one: the first copy that finds no room is named once, with what it
// means, and nothing more is copied or written. Either way the run ends as a migration
// ends.
#include <gtest/gtest.h>

#include <algorithm>

#include "migration/transfer.h"
#include "platform/forwarding_platform.h"
#include "tests/fault_support.h"

namespace varmex::fault {
namespace {

using platform::FakePlatform;

bool OnDestination(std::string_view path) {
  return path.size() >= 2 && (path[0] == 'D' || path[0] == 'd') && path[1] == ':';
}

std::string LastComponent(std::string_view path) {
  const size_t slash = path.rfind('\\');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Passes everything to the in-memory platform, except that after `goodCopies` copies
// onto drive D the drive is full (copies fail with 112 and leave the first half of
// the file behind) or read-only (nothing on it can be changed or opened for writing).
class FailingDestination : public platform::ForwardingPlatform {
 public:
  enum class Mode { kNone, kFull, kReadOnly };
  FailingDestination(FakePlatform& inner, Mode mode, size_t goodCopies)
      : ForwardingPlatform(inner), inner_(inner), mode_(mode), goodCopies_(goodCopies) {}

  std::vector<std::string> copies;  // destinations of every copy asked for, in order

  uint32_t CreateDirectory(std::string_view path) override {
    return Locked(path) ? platform::kErrorAccessDenied : inner_.CreateDirectory(path);
  }
  uint32_t SetFileAttributes(std::string_view path, uint32_t attributes) override {
    return Locked(path) ? platform::kErrorAccessDenied : inner_.SetFileAttributes(path, attributes);
  }
  uint32_t DeleteFile(std::string_view path) override {
    return Locked(path) ? platform::kErrorAccessDenied : inner_.DeleteFile(path);
  }
  uint32_t CopyFile(std::string_view from, std::string_view to, bool failIfExists) override {
    if (!OnDestination(to)) return inner_.CopyFile(from, to, failIfExists);
    copies.emplace_back(to);
    if (copies.size() <= goodCopies_ || mode_ == Mode::kNone)
      return inner_.CopyFile(from, to, failIfExists);
    if (mode_ == Mode::kReadOnly) return platform::kErrorAccessDenied;
    if (const std::vector<uint8_t>* source = inner_.Bytes(from)) {
      inner_.AddFile(
          to, std::vector<uint8_t>(source->begin(),
                                   source->begin() + static_cast<ptrdiff_t>(source->size() / 2)));
    }
    return platform::kErrorDiskFull;
  }
  std::unique_ptr<platform::File> OpenExistingFile(std::string_view path,
                                                   uint32_t& error) override {
    if (Locked(path)) {
      error = platform::kErrorAccessDenied;
      return nullptr;
    }
    return inner_.OpenExistingFile(path, error);
  }

 private:
  bool Locked(std::string_view path) const {
    return mode_ == Mode::kReadOnly && copies.size() > goodCopies_ && OnDestination(path);
  }

  FakePlatform& inner_;
  Mode mode_;
  size_t goodCopies_;
};

// How many of the copies are the collection's, before those kept for undoing.
size_t DataCopies(const std::vector<std::string>& copies) {
  return static_cast<size_t>(std::count_if(
      copies.begin(), copies.end(), [](const std::string& c) { return !c.ends_with(".anulare"); }));
}

struct CleanCopies {
  std::vector<std::string> destinations;
  size_t statusTexts = 0;
};

CleanCopies RecordCleanRun(int version) {
  World w(version);
  FailingDestination d(w.os, FailingDestination::Mode::kNone, 0);
  EXPECT_TRUE(w.Migrate(d));
  ExpectOrderlyEnd(w, "clean run");
  for (const auto& m : w.os.messages)
    EXPECT_EQ(m.text.rfind("Eroare", 0), std::string::npos) << m.text;
  return {d.copies, w.dialog.TextsOf(migration::kStatusText).size()};
}

void Sweep(int version, FailingDestination::Mode mode, uint32_t code) {
  const CleanCopies clean = RecordCleanRun(version);
  ASSERT_GT(clean.destinations.size(), 15u);
  for (size_t k = 0; k <= clean.destinations.size(); ++k) {
    World w(version);
    FailingDestination d(w.os, mode, k);
    const std::string context =
        "version " + std::to_string(version) + ", copies failing after " + std::to_string(k);
    ASSERT_TRUE(w.Migrate(d)) << context;

    const bool full = mode == FailingDestination::Mode::kFull;
    const std::vector<std::string> tried =
        full ? std::vector<std::string>(
                   clean.destinations.begin(),
                   clean.destinations.begin() +
                       static_cast<ptrdiff_t>(std::min(k + 1, clean.destinations.size())))
             : clean.destinations;
    EXPECT_EQ(d.copies, tried) << context;
    const std::string field = std::string(code < 10 ? "    " : "  ") + std::to_string(code);
    std::vector<std::string> expected;
    for (size_t i = k; i < clean.destinations.size() && !(full && i > k); ++i) {
      const std::string& to = clean.destinations[i];
      const bool undoCopy = to.ends_with(".anulare");
      if (undoCopy && !full) continue;  // a file that cannot be copied is left out
      std::string text =
          undoCopy ? "Eroare [" + field + "] la salvarea fisierului " +
                         to.substr(0, to.size() - 8) + " inainte de preluare!"
                   : "Eroare [" + field + "] la copierea fisierului " + LastComponent(to) + "!";
      if (full) text += "\n" + std::string(migration::kDiskFullAdvice);
      expected.push_back(text);
    }
    std::vector<std::string> reported;
    for (const auto& m : w.os.messages) {
      if (m.text.rfind("Eroare [", 0) == 0) {
        reported.push_back(m.text);
        EXPECT_EQ(m.caption, "Eroare") << context;
      }
    }
    EXPECT_EQ(reported, expected) << context;

    // After a read-only copy the pipeline went on: the tools ran. After a full one
    // nothing ran but what came before it.
    const bool copiesDone = !full || k >= DataCopies(clean.destinations);
    if (!full) {
      EXPECT_EQ(w.dialog.TextsOf(migration::kStatusText).size() >= clean.statusTexts - 2, true)
          << context;
    }
    // (The density check measures furnmat.dat only when the tree holds one.)
    EXPECT_EQ(std::any_of(w.os.runs.begin(), w.os.runs.end(),
                          [](const FakePlatform::Run& r) {
                            return r.commandLine.find("\\dens ") != std::string::npos;
                          }),
              copiesDone && w.os.Exists(std::string(kNewData) + "furnmat.dat"))
        << context;
    ExpectOrderlyEnd(w, context);
    ExpectOldCollectionUntouched(w, context);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(FaultCopy, DestinationFillsUpVersion36) { Sweep(36, FailingDestination::Mode::kFull, 112); }
TEST(FaultCopy, DestinationTurnsReadOnlyVersion36) {
  Sweep(36, FailingDestination::Mode::kReadOnly, 5);
}
TEST(FaultCopy, DestinationFillsUpVersion35) { Sweep(35, FailingDestination::Mode::kFull, 112); }

}  // namespace
}  // namespace varmex::fault
