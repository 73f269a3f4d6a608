#include "tools/nredisp/nredisp.h"

#include <gtest/gtest.h>

#include <sstream>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"

namespace varmex::tools {
namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome Nredisp(platform::Platform& os, const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunNredisp(os, args, out, err);
  return {status, out.str(), err.str()};
}

// A block file of 20 blocks with five records of 300 bytes.
std::vector<uint8_t> GoodFile() {
  platform::FakePlatform scratch;
  scratch.AddFile("s.dat", store::EmptyBlockFileImage(20));
  io::OpenUnit(scratch, 1, "s.dat", 512);
  for (int i = 0; i < 5; ++i) {
    std::vector<uint8_t> record(300, static_cast<uint8_t>(i));
    io::StoreI32(record.data(), 7000 + i);
    store::KeyedWrite(record, 4, 20, 1, store::HashSelector::kVariableLength);
  }
  io::CloseUnit(1);
  return *scratch.Bytes("s.dat");
}

TEST(NredispTest, SpreadsTheRecordsInPlaceOrBeside) {
  platform::FakePlatform os;
  os.AddFile("f.dat", GoodFile());
  Outcome o = Nredisp(os, {"-o", "-d", "100", "f.dat"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "f.dat: 5 records spread from 20 to 100 blocks into f.dat\n");
  EXPECT_EQ(os.Bytes("f.dat")->size(), 100u * 512);
  o = Nredisp(os, {"-d300", "--", "f.dat"});
  EXPECT_EQ(o.out, "f.dat: 5 records spread from 100 to 300 blocks into f.dat.nredisp\n");
  EXPECT_EQ(os.Bytes("f.dat")->size(), 100u * 512);
  EXPECT_EQ(os.Bytes("f.dat.nredisp")->size(), 300u * 512);
}

// Every refusal: its exit status and message, and the file as it was.
TEST(NredispTest, Refusals) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of standard output
    std::string err;  // the start of standard error
  };
  const std::string usage = "usage: nredisp [-o] -d BLOCKS FILE\n";
  const std::vector<Case> cases = {
      {{"--help"}, 0, usage, ""},
      {{"-o", "-h", "f.dat"}, 0, usage, ""},
      {{"--frob", "f.dat"}, 7, "", "nredisp: unknown option --frob\n" + usage},
      {{"-o", "-d", "100", "-x.dat"}, 7, "", "nredisp: unknown option -x.dat\n"},
      {{"-o", "-d", "1", "f.dat"}, 7, "", "nredisp: -d needs a block count from 2 to 2147483647\n"},
      {{"-o", "-d", "12x", "f.dat"}, 7, "", "nredisp: -d needs"},
      {{"-o", "-d", "", "f.dat"}, 7, "", "nredisp: -d needs"},
      {{"-o", "-d", "100"}, 7, "", "nredisp: a file and -d BLOCKS are needed\n"},
      {{"-o", "-d", "100", "f.dat", "g.dat"}, 7, "", "nredisp: more than one file named\n"},
      {{"-o", "-d", "100", ""}, 7, "", "nredisp: the file name is empty\n"},
      {{"-o", "-d", "100", "none.dat"},
       2,
       "",
       "nredisp: cannot open none.dat (error 2); the file is left as it was\n"},
      {{"-o", "-d", "100", "short.dat"},
       2,
       "",
       "nredisp: short.dat: its header gives 2 blocks but the file holds 20 blocks; "
       "the file is left as it was\n"},
      {{"-o", "-d", "3", "f.dat"}, 3, "", "nredisp: f.dat: record "},
      {{"-o", "-d", "100", "held.dat"},
       4,
       "",
       "nredisp: held.dat is busy: another run holds it; the file is left as it was\n"},
  };
  platform::FakePlatform os;
  std::vector<uint8_t> small = GoodFile();
  io::StoreI32(small.data() + 18, 2);
  os.AddFile("short.dat", small);
  os.AddFile("held.dat", GoodFile());
  uint32_t error = 0;
  const std::unique_ptr<platform::FileLock> other = os.LockFile("held.dat", error);
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    os.AddFile("f.dat", GoodFile());
    const Outcome o = Nredisp(os, c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out.substr(0, c.out.size()), c.out);
    EXPECT_EQ(o.err.substr(0, c.err.size()), c.err) << o.err;
    if (!c.out.empty()) {
      EXPECT_EQ(o.err, "");
    }
    EXPECT_TRUE(*os.Bytes("f.dat") == GoodFile());
    EXPECT_FALSE(os.Exists("f.dat.nredisp"));
    EXPECT_FALSE(os.Exists("-x.dat"));
  }
  EXPECT_TRUE(*os.Bytes("short.dat") == small);
}

}  // namespace
}  // namespace varmex::tools
