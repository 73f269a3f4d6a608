#include "tools/kedro-db/kedro_db.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/platform.h"
#include "store/block_file.h"
#include "store/block_header.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"
#include "store/redistribute.h"
#include "store/verify.h"
#include "tools/common/progress.h"

namespace varmex::tools {
namespace {

using store::BlockBytes;

constexpr int16_t kUnit = 1;

// Exit statuses (kedro_db.h).
enum ExitStatus : int {
  kExitDone = 0,
  kExitNotFoundOrProblem = 1,
  kExitFileUnusable = 2,
  kExitUsage = 7,
};

struct Options {
  bool text = false;
  ProgressMeter* progress = nullptr;
  int32_t blocks = 0;
  int keyLength = 6;
  long selectorNumber = static_cast<long>(store::HashSelector::kVariableLength);
  store::HashSelector selector = store::HashSelector::kVariableLength;
  std::vector<std::string> words;  // command and its operands
};

std::optional<long> ParseNumber(const std::string& s) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return v;
}

std::optional<std::vector<uint8_t>> ParseBytes(const std::string& s, bool text) {
  if (text) return std::vector<uint8_t>(s.begin(), s.end());
  std::vector<uint8_t> out;
  int high = -1;
  for (char c : s) {
    if (c == ' ' || c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int v =
        std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  char buf[3];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    s += buf;
  }
  return s;
}

std::string Show(std::span<const uint8_t> bytes, bool text) {
  if (!text) return Hex(bytes);
  std::string s;
  for (uint8_t b : bytes) s += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
  return s;
}

// What each status word of the store means, for messages.
std::string StatusMeaning(int16_t status, bool writing) {
  switch (status) {
    case store::kKeyedNotFound:
      return "not found";
    case store::kKeyedWriteError:
      return "a block write failed";
    case store::kKeyedFull:
      return writing ? "no room: the file is full along the key's probe path"
                     : "not found in all the blocks of the file";
    case store::kKeyedIncomplete:
      return "the record is incomplete: its last piece is missing";
    case store::kKeyedReadError:
      return "a block read failed";
    case store::kKeyedBufferTooSmall:
      return "the buffer is too small";
    case store::kKeyedPiecePastBlock:
      return "a stored piece runs past the end of its block";
    default:
      return "unknown status";
  }
}

std::string Status(int16_t status, bool writing) {
  return "status " + std::to_string(status) + " (" + StatusMeaning(status, writing) + ")";
}

// The file open on kUnit, with what its block 1 says.
struct OpenFile {
  bool blockFile = false;
  int32_t n = 0;
  int32_t headerCount = 0;
  uint64_t bytes = 0;
  int32_t held = 0;                     // whole blocks the file holds
  std::optional<int32_t> invalidCount;  // a header's count that is 0 or less
};

// Block 1 carries the header's mark and key, whatever its count says.
bool HasHeaderMark(const BlockBytes& block) {
  BlockBytes counted = block;
  store::SetHeaderBlockCount(counted, 1);
  return store::IsBlockFileHeader(counted);
}

std::optional<OpenFile> Open(platform::Platform& os, const std::string& path, const Options& opt,
                             bool writing, std::ostream& err) {
  const uint32_t attributes = os.GetFileAttributes(path);
  if (attributes != platform::kInvalidFileAttributes &&
      (attributes & platform::kAttributeDirectory) != 0) {
    err << "kedro-db: " << path << " is a folder, not a data file\n";
    return std::nullopt;
  }
  // Nothing is written by the commands that only look: a read-only file is read too.
  const int status = writing ? io::OpenUnit(os, kUnit, path, store::kBlockBytes)
                             : io::OpenUnitForReading(os, kUnit, path, store::kBlockBytes);
  if (status != 0) {
    err << "kedro-db: cannot open " << path << " (error " << status << ")\n";
    return std::nullopt;
  }
  OpenFile f;
  f.bytes = os.FileSize(path).value_or(0);
  f.held = static_cast<int32_t>(std::min<uint64_t>(f.bytes / store::kBlockBytes, INT32_MAX));
  BlockBytes first{};
  if (io::ReadRecord(kUnit, 1, first) == 0) {
    f.headerCount = store::HeaderBlockCount(first);
    f.blockFile = f.headerCount > 0 || HasHeaderMark(first);
    if (f.blockFile && f.headerCount == 0) {
      f.invalidCount = io::LoadI32(first.data() + store::kHeaderCountOffset);
    }
  }
  f.n = opt.blocks > 0 ? opt.blocks : (f.blockFile ? f.headerCount : f.held);
  if (f.invalidCount && opt.blocks == 0) return f;  // said by the command
  if (f.n <= 0) {
    err << "kedro-db: " << path << " has no blocks to work on\n";
    return std::nullopt;
  }
  return f;
}

// Wipes the progress line before a line of output, which may go to the same terminal.
void Quiet(const Options& opt) {
  if (opt.progress != nullptr) opt.progress->Wipe();
}

// The blocks of the file, holes skipped, with the progress line when there is one.
store::BlockSource Source(const Options& opt) {
  store::BlockSource source = store::UnitSource(kUnit);
  if (opt.progress != nullptr) source.progress = opt.progress->Callback();
  return source;
}

// The structural check of the file, over the blocks it holds; each problem is told to
// `sink` when one is given, else only counted.
store::VerifyReport Check(const OpenFile& f, const Options& opt, int32_t n,
                          const store::ProblemSink* sink = nullptr) {
  if (f.blockFile) return store::StreamVerifyBlockFile(Source(opt), n, opt.selector, f.bytes, sink);
  return store::StreamVerifyLegacyFile(Source(opt), n, opt.keyLength, f.bytes, sink);
}

int Info(const std::string& path, const OpenFile& f, const Options& opt, std::ostream& out) {
  out << "file: " << path << "\n";
  out << "layout: " << (f.blockFile ? "block file" : "word layout") << "\n";
  if (f.blockFile) {
    out << "header: valid, " << f.headerCount << " blocks\n";
  } else {
    out << "header: none (key length " << opt.keyLength << ")\n";
  }
  out << "blocks: " << f.n << " used, " << f.held << " in the file\n";
  const store::VerifyReport r = Check(f, opt, f.n);
  Quiet(opt);
  const int64_t total = int64_t{r.blocksPresent} * store::kBlockCells;
  out << "records: " << r.records << "\n";
  out << "pieces: " << r.pieces << ", deleted entries: " << r.deletedEntries << "\n";
  char pct[32];
  std::snprintf(
      pct, sizeof pct, "%.1f",
      total > 0 ? 100.0 * static_cast<double>(r.usedCells) / static_cast<double>(total) : 0.0);
  out << "used: " << r.usedCells << " of " << total << " " << (f.blockFile ? "units" : "words")
      << " (" << pct << "%), free: " << r.freeCells << "\n";
  out << "problems: " << r.problemsFound << "\n";
  return kExitDone;
}

std::string LegacyStatus(int16_t status) {
  const char* meaning = status == store::kLegacyNotFound ? "not found"
                        : status == store::kLegacyIncomplete
                            ? "the record is incomplete: its last piece is missing"
                            : "unknown status";
  return "status " + std::to_string(status) + " (" + meaning + ")";
}

int Get(const OpenFile& f, const Options& opt, const std::vector<uint8_t>& key, std::ostream& out,
        std::ostream& err) {
  std::vector<uint8_t> buffer(store::kMaxRecordLength + 2, 0);
  std::copy(key.begin(), key.end(), buffer.begin());
  int16_t status = 0;
  int32_t length = 0;
  if (f.blockFile) {
    const store::ReadResult r = store::KeyedRead(buffer, static_cast<int16_t>(key.size()), f.n,
                                                 kUnit, opt.selector, store::kMaxRecordLength);
    status = r.status;
    length = r.length;
  } else {
    const store::LegacyReadResult r =
        store::LegacyKeyedRead(buffer, static_cast<int16_t>(key.size()), f.n, kUnit);
    status = r.status;
    length = r.length;
  }
  if (status != 0) {
    err << "kedro-db: " << (f.blockFile ? Status(status, false) : LegacyStatus(status)) << "\n";
    return kExitNotFoundOrProblem;
  }
  const size_t from =
      key.size() < static_cast<size_t>(length) ? key.size() : static_cast<size_t>(length);
  out << Show(std::span<const uint8_t>(buffer.data() + from, static_cast<size_t>(length) - from),
              opt.text)
      << "\n";
  return kExitDone;
}

// Prints every record of a block file as the walk of the store meets it.
class DumpPrinter : public store::RecordVisitor {
 public:
  DumpPrinter(const Options& opt, std::ostream& out) : opt_(opt), out_(out) {}
  bool OnUnreadableBlock(int32_t block, int status) override {
    Quiet(opt_);
    out_ << "block " << block << ": unreadable (error " << status << ")\n";
    return true;
  }
  bool OnDamagedEntry(int32_t block, int cell) override {
    Quiet(opt_);
    out_ << "block " << block << " unit " << cell << ": entry runs past the end of the block\n";
    return true;
  }
  bool OnRecord(const store::RecordSighting& s) override {
    if (s.key.empty()) return true;  // no key to show or look up (verify names it)
    Quiet(opt_);
    out_ << "block " << s.block << " unit " << s.cell << " key " << Show(s.key, opt_.text);
    if (s.otherBlock != 0) {
      out_ << " status 0 (the look-up finds another copy, at block " << s.otherBlock << " unit "
           << s.otherCell << ")\n";
    } else if (s.status != store::kKeyedDone) {
      out_ << " " << Status(s.status, false) << "\n";
    } else {
      out_ << " data " << Show(s.record.subspan(s.key.size()), opt_.text)
           << (s.whole ? "" : " (cut: the record runs on past its last byte read)") << "\n";
    }
    return true;
  }

 private:
  const Options& opt_;
  std::ostream& out_;
};

// Every live record, block by block, over the blocks the file holds; blocks the count
// names past them are reported in one line.
int Dump(const OpenFile& f, const Options& opt, std::ostream& out) {
  if (f.blockFile) {
    DumpPrinter printer(opt, out);
    store::WalkRecords(Source(opt), f.n, f.held, printer, opt.selector);
  } else {
    store::ScanBlocks(Source(opt), 1, std::min(f.n, f.held), [&](const store::ScannedBlocks& s) {
      const int32_t b = s.from;
      Quiet(opt);
      if (s.status != 0) {
        out << "block " << b << ": unreadable (error " << s.status << ")\n";
        return true;
      }
      const BlockBytes& block = *s.bytes;  // a hole has no entries
      for (const store::LegacyEntry& e : store::LegacyEntries(block, opt.keyLength)) {
        if (!e.IsUsable()) break;
        const int d = e.word;
        out << "block " << b << " word " << d << (e.removed ? " removed" : "") << " key "
            << Show(std::span<const uint8_t>(block.data() + 2 * d - 2,
                                             static_cast<size_t>(opt.keyLength)),
                    opt.text)
            << " length " << e.length << " data "
            << Show(
                   std::span<const uint8_t>(block.data() + 2 * d + opt.keyLength,
                                            static_cast<size_t>(e.Magnitude() - opt.keyLength - 2)),
                   opt.text)
            << "\n";
      }
      return true;
    });
  }
  Quiet(opt);
  if (f.held < f.n) {
    out << "blocks " << f.held + 1 << " to " << f.n << ": missing (the file holds " << f.held
        << ")\n";
  }
  return kExitDone;
}

// Each problem as it is found, in the order of the report's list.
int Verify(const OpenFile& f, const Options& opt, std::ostream& out) {
  const store::ProblemSink print = [&](const store::VerifyProblem& p) {
    Quiet(opt);
    out << "block " << p.block << " unit " << p.cell << ": " << p.text << "\n";
  };
  const store::VerifyReport r = Check(f, opt, f.blockFile ? opt.blocks : f.n, &print);
  Quiet(opt);
  out << (r.ok() ? "ok" : "problems: " + std::to_string(r.problemsFound)) << "\n";
  return r.ok() ? kExitDone : kExitNotFoundOrProblem;
}

constexpr const char* kUsage =
    "usage: kedro-db [--text] [--blocks N] [--key-length K] [--selector S] COMMAND FILE [KEY "
    "[DATA]]\n"
    "commands: info, get, put, del, dump, verify\n"
    "exit status: 0 done; 1 not found, no room, or (verify) a problem found; 2 the file\n"
    "  cannot be opened or worked on; 7 a bad command line\n";

int Run(platform::Platform& os, Options opt, std::ostream& out, std::ostream& err) {
  const std::vector<std::string>& w = opt.words;
  if (w.size() < 2) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string& command = w[0];
  const size_t operands = command == "put" ? 4 : (command == "get" || command == "del") ? 3 : 2;
  if (w.size() != operands || (command != "info" && command != "get" && command != "put" &&
                               command != "del" && command != "dump" && command != "verify")) {
    err << kUsage;
    return kExitUsage;
  }
  if (w[1].empty()) {
    err << "kedro-db: the file name is empty\n";
    return kExitUsage;
  }
  if (opt.keyLength < 4 || opt.keyLength % 2 != 0 || opt.keyLength > 64) {
    err << "kedro-db: --key-length must be even, 4 to 64\n";
    return kExitUsage;
  }
  const std::optional<store::HashSelector> selector =
      store::HashSelectorFromNumber(opt.selectorNumber);
  if (!selector) {
    err << "kedro-db: unknown hash selector " << opt.selectorNumber << "\n";
    return kExitUsage;
  }
  opt.selector = *selector;
  std::vector<uint8_t> key;
  if (w.size() >= 3) {
    const auto k = ParseBytes(w[2], opt.text);
    if (!k || k->empty() || k->size() > store::kMaxKeyLength) {
      err << "kedro-db: the key must be 1 to 31 bytes" << (opt.text ? "" : " of hex") << "\n";
      return kExitUsage;
    }
    key = *k;
  }
  const bool writing = command == "put" || command == "del";
  const std::optional<OpenFile> f = Open(os, w[1], opt, writing, err);
  if (!f) return kExitFileUnusable;
  if (f->invalidCount && opt.blocks == 0) {
    const std::string problem = "the header is invalid: its block count is " +
                                std::to_string(*f->invalidCount) +
                                ", and it must be greater than 0";
    if (command != "verify") {
      err << "kedro-db: " << w[1] << ": " << problem << "\n";
      return kExitFileUnusable;
    }
    out << "block 1 unit 1: " << problem << "\nproblems: 1\n";
    return kExitNotFoundOrProblem;
  }
  if (writing && !f->blockFile) {
    err << "kedro-db: " << w[1] << " is a word-layout file, which is read only here\n";
    return kExitFileUnusable;
  }
  if (writing && opt.blocks == 0) {
    if (std::string problem = store::FileSizeProblem(f->n, f->bytes); !problem.empty()) {
      err << "kedro-db: " << w[1] << ": " << problem << "; nothing written\n";
      return kExitFileUnusable;
    }
  }
  if (command == "info") return Info(w[1], *f, opt, out);
  if (command == "dump") return Dump(*f, opt, out);
  if (command == "verify") return Verify(*f, opt, out);
  if (command == "get") {
    if (!f->blockFile && static_cast<int>(key.size()) != opt.keyLength) {
      err << "kedro-db: the key must be " << opt.keyLength << " bytes long\n";
      return kExitUsage;
    }
    return Get(*f, opt, key, out, err);
  }
  if (command == "del") {
    const int16_t st =
        store::KeyedDelete(key, static_cast<int16_t>(key.size()), f->n, kUnit, opt.selector);
    if (st != 0) err << "kedro-db: " << Status(st, true) << "\n";
    return st == 0 ? kExitDone : kExitNotFoundOrProblem;
  }
  const auto data = ParseBytes(w[3], opt.text);
  if (!data || key.size() + data->size() > static_cast<size_t>(store::kMaxRecordLength)) {
    err << "kedro-db: bad data\n";
    return kExitUsage;
  }
  std::vector<uint8_t> record = key;
  record.insert(record.end(), data->begin(), data->end());
  const store::WriteResult r =
      store::KeyedWrite(record, static_cast<int16_t>(key.size()), f->n, kUnit, opt.selector);
  if (r.status != 0) {
    err << "kedro-db: " << Status(r.status, true) << "\n";
    return kExitNotFoundOrProblem;
  }
  out << "block " << r.block << " unit " << r.cell << "\n";
  return kExitDone;
}

}  // namespace

int RunKedroDb(platform::Platform& os, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err, bool showProgress) {
  Options opt;
  ProgressMeter meter(err, "kedro-db", showProgress);
  opt.progress = &meter;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!options) {
      opt.words.push_back(a);
      continue;
    }
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return kExitDone;
    }
    auto value = [&]() -> std::optional<long> {
      if (i + 1 >= args.size()) return std::nullopt;
      return ParseNumber(args[++i]);
    };
    if (a == "--") {
      options = false;
    } else if (a == "--text") {
      opt.text = true;
    } else if (a == "--blocks" || a == "--key-length" || a == "--selector") {
      const std::optional<long> v = value();
      if (!v || *v < 0 || *v > 0x7FFFFFFF) {
        err << "kedro-db: " << a << " needs a number\n";
        return kExitUsage;
      }
      if (a == "--blocks") opt.blocks = static_cast<int32_t>(*v);
      if (a == "--key-length") opt.keyLength = static_cast<int>(*v);
      if (a == "--selector") opt.selectorNumber = *v > 32767 ? 0 : *v;
    } else if (!a.empty() && a[0] == '-') {
      err << "kedro-db: unknown option " << a << "\n" << kUsage;
      return kExitUsage;
    } else {
      opt.words.push_back(a);
    }
  }
  const int status = Run(os, opt, out, err);
  io::CloseAllUnits();
  return status;
}

}  // namespace varmex::tools
