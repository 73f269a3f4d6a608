// Pieces of the whole-migration benchmark: the scratch tree a run needs, a timed run
// of a program with its peak memory, the block counts the preloaded counter reports,
// a digest of the files a migration writes, and the I/O floor of the same files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace varmex::bench {

// Copies the tree `from` into `to` (created; files replaced), keeping permissions.
bool CopyTree(const std::string& from, const std::string& to);

// The scratch drives of one migration run under `root`: drive C holds the old
// collection (a copy of `collection`, the folder that holds Varmex/ and ERP/, as
// C:\Palunor), drive D the installed tree with the fresh data files of `fresh` in
// D:\kedro\Varmex and the migration's tools from `binDir` where the program looks
// for them. Returns false when something could not be copied.
bool LayOutDrives(const std::string& root, const std::string& collection, const std::string& fresh,
                  const std::string& binDir);

struct ChildRun {
  int status = -1;  // exit status, 128 + signal when killed, -1 when not started
  double wallSeconds = 0;
  double userSeconds = 0, systemSeconds = 0;
  long maxRssKb = 0;  // largest resident set of the program or a child it waited for
};

// Runs argv[0] (a path) with the extra environment variables, in `cwd`, and waits.
ChildRun RunChild(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env, const std::string& cwd);

// Lines of the preloaded counter, summed per program ("varmex-setup") and per program
// and file ("varmex-setup prefman.dat", reads and writes only).
struct BlockCounts {
  uint64_t reads = 0, writes = 0;        // 512-byte positioned reads and writes
  uint64_t allReads = 0, allWrites = 0;  // positioned reads and writes of any size
  long peakKb = 0;  // the largest resident set of one run of the program (0: not told)
};
std::map<std::string, BlockCounts> ReadBlockCounts(const std::string& path);

// FNV-1a over the relative path, size and bytes of every data file under `dir` (names
// ending in .dat or .voc, in any case), in path order: two runs whose data files are
// byte for byte the same give the same digest.
uint64_t DataDigest(const std::string& dir);

// The I/O floor: the time to copy every file of `collection` into `scratch` (64 KiB
// reads and writes, as the program copies) plus the time to read every block of each
// of `blockFiles` (paths relative to `collection`, read in the copy) once, with one
// 512-byte read each. The copy is removed afterwards.
struct IoFloor {
  double copySeconds = 0;
  double readSeconds = 0;
  uint64_t bytesCopied = 0;
  uint64_t blocksCopied = 0;  // each file's bytes / 512, rounded up
  uint64_t blocksRead = 0;
  double Seconds() const { return copySeconds + readSeconds; }
};
IoFloor MeasureIoFloor(const std::string& collection, const std::string& scratch,
                       const std::vector<std::string>& blockFiles);

// The median of the values (0 for none).
double Median(std::vector<double> values);

}  // namespace varmex::bench
