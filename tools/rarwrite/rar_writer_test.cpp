#include "tools/rarwrite/rar_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/coding.h"
#include "tools/rarformat/rar_headers.h"

namespace varmex::tools {
namespace {

struct ReadBack {
  std::string name;
  std::vector<uint8_t> data;
  unsigned type;
  unsigned perm;
};

// Reads every entry of `bytes` with libarchive; `status` is the first failure.
std::vector<ReadBack> ReadWithLibarchive(const std::vector<uint8_t>& bytes, int& status) {
  std::vector<ReadBack> out;
  archive* a = archive_read_new();
  archive_read_support_format_rar(a);
  archive_read_support_format_rar5(a);
  status = archive_read_open_memory(a, bytes.data(), bytes.size());
  archive_entry* e = nullptr;
  while (status == ARCHIVE_OK && (status = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
    ReadBack r{archive_entry_pathname(e), {}, archive_entry_filetype(e), archive_entry_perm(e)};
    const void* block;
    size_t size;
    la_int64_t offset;
    int d = r.type == AE_IFDIR ? ARCHIVE_EOF : ARCHIVE_OK;  // a folder has no data to read
    while (d == ARCHIVE_OK &&
           (d = archive_read_data_block(a, &block, &size, &offset)) == ARCHIVE_OK) {
      const auto* p = static_cast<const uint8_t*>(block);
      r.data.insert(r.data.end(), p, p + size);
    }
    out.push_back(r);
    if (d != ARCHIVE_EOF) {
      status = d;
      break;
    }
  }
  if (status == ARCHIVE_EOF) status = ARCHIVE_OK;
  archive_read_free(a);
  return out;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

RarEntry Entry(const std::string& name, const std::string& text) {
  RarEntry e;
  e.name = name;
  e.data = Bytes(text);
  return e;
}

// The archives of the spelt-out test below: every kind of entry each format writes.
std::vector<RarEntry> ClassicSample() {
  std::vector<RarEntry> entries = {Entry("dir/a.txt", "alpha"), Entry("dir/", ""),
                                   Entry("tool", "run"), Entry("e.bin", "secret")};
  entries[1].directory = true;
  entries[2].mode = 0755;
  entries[3].encrypted = true;
  return entries;
}

std::vector<RarEntry> FiveSample() {
  std::vector<RarEntry> entries = {Entry("dir\\a.txt", "alpha"),
                                   Entry("dir", ""),
                                   Entry("big", std::string(130, 'z')),
                                   Entry("n", "x"),
                                   Entry("l", ""),
                                   Entry("e", "s")};
  entries[1].directory = true;
  entries[3].withoutCrc = true;
  entries[4].redirect = 1;
  entries[4].target = "t";
  entries[5].encrypted = true;
  return entries;
}

// Both samples spelt out byte by byte, independently of the layout constants the
// writer and the header walk share.
const std::vector<uint8_t> kClassicSampleBytes = FromHex(
    "526172211a0700cf907300000d00000000000000cbf574008029000500000005000000036a39e0d0"
    "0000215c14300900a48100006469725c612e747874616c706861a53874e080230000000000000000"
    "0003000000000000215c14300300ed410000646972087e7400802400030000000300000003c0a476"
    "500000215c14300400ed810000746f6f6c72756ef7947404802500060000000600000003e5e8a25c"
    "0000215c14300500a4810000652e62696e736563726574c43d7b00400700");
const std::vector<uint8_t> kFiveSampleBytes = [] {
  std::vector<uint8_t> bytes = FromHex(
      "526172211a070100c51a333203010000f57a5ec41c0202050605a4830200b955696a39e0d0000109"
      "6469722f612e747874616c706861403f19cf120202000300ed830100b955690001036469721f4e7b"
      "331802028201068201a4830200b95569d7fe7886000103626967");
  bytes.insert(bytes.end(), 130, 'z');  // the data of "big"
  const std::vector<uint8_t> rest = FromHex(
      "0c26513a100202010201a4830200b955690001016e784557cfa71b020306000600a4830200b95569"
      "000000000001016c0505010001746c6173873a020325010601a4830200b955690bcf0e1b00010165"
      "240100000f00000000000000000000000000000000000000000000000000000000000000007319b2"
      "3a3503050000");
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  return bytes;
}();

TEST(RarWriterTest, Crc32OfTheStandardCheckString) {
  EXPECT_EQ(Crc32(Bytes("123456789")), 0xCBF43926u);
  EXPECT_EQ(Crc32({}), 0u);
  // Continuing from an earlier value equals one pass over the whole.
  EXPECT_EQ(Crc32(Bytes("6789"), Crc32(Bytes("12345"))), 0xCBF43926u);
}

// Both formats, as libarchive reads them.
TEST(RarWriterTest, LibarchiveReadsBackNamesFoldersContentsAndModes) {
  std::vector<RarEntry> entries(4);
  entries[0].name = "readme.txt";
  entries[0].data = Bytes("hello\n");
  entries[1].name = "sub/";
  entries[1].directory = true;
  entries[2].name = "sub\\deeper/tool";
  entries[2].data = Bytes("#!/bin/sh\nexit 0\n");
  entries[2].mode = 0755;
  entries[3].name = "empty.dat";
  for (const std::vector<uint8_t>& bytes : {BuildRarArchive(entries), BuildRar5Archive(entries)}) {
    ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "Rar!");
    int status = 0;
    const std::vector<ReadBack> back = ReadWithLibarchive(bytes, status);
    ASSERT_EQ(status, ARCHIVE_OK);
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[0].name, "readme.txt");
    EXPECT_EQ(back[0].data, Bytes("hello\n"));
    EXPECT_EQ(back[0].type, static_cast<unsigned>(AE_IFREG));
    EXPECT_EQ(back[0].perm, 0644u);
    EXPECT_EQ(back[1].type, static_cast<unsigned>(AE_IFDIR));
    EXPECT_EQ(back[2].name, "sub/deeper/tool");
    EXPECT_EQ(back[2].perm, 0755u);
    EXPECT_EQ(back[2].data, Bytes("#!/bin/sh\nexit 0\n"));
    EXPECT_TRUE(back[3].data.empty());
  }
}

// Every archive the tests, the demo medium and rarwrite make rests on these bytes.
TEST(RarWriterTest, WritesTheSpeltOutBytesOfEveryKindOfEntry) {
  EXPECT_EQ(BuildRarArchive(ClassicSample()), kClassicSampleBytes);
  EXPECT_EQ(BuildRar5Archive(FiveSample()), kFiveSampleBytes);
}

// Deliberately a check of the header walk against bytes written independently of the
// layout constants it shares with the writer: the spelt-out samples.
TEST(RarWriterTest, TheHeaderWalkReadsTheSpeltOutBytesAsTheirEntries) {
  using Kind = RarEntryKind;
  struct Sample {
    const std::vector<uint8_t>& bytes;
    std::vector<RarEntry> entries;
    RarFormat format;
    std::vector<std::string> names;
    std::vector<Kind> kinds;
  };
  const Sample samples[] = {
      {kClassicSampleBytes,
       ClassicSample(),
       RarFormat::kClassic,
       {"dir\\a.txt", "dir", "tool", "e.bin"},
       {Kind::kFile, Kind::kFolder, Kind::kFile, Kind::kFile}},
      {kFiveSampleBytes,
       FiveSample(),
       RarFormat::kFive,
       {"dir/a.txt", "dir", "big", "n", "l", "e"},
       {Kind::kFile, Kind::kFolder, Kind::kFile, Kind::kFile, Kind::kLink, Kind::kFile}},
  };
  for (const Sample& sample : samples) {
    MemoryRarSource source(sample.bytes);
    const RarHeaders walk = WalkRarHeaders(source);
    EXPECT_EQ(walk.format, sample.format);
    EXPECT_EQ(walk.problem, RarProblem::kNone) << walk.detail;
    ASSERT_EQ(walk.files.size(), sample.entries.size());
    for (size_t i = 0; i < walk.files.size(); ++i) {
      const RarFileHeader& f = walk.files[i];
      const RarEntry& e = sample.entries[i];
      SCOPED_TRACE(sample.names[i]);
      const std::vector<uint8_t> data = e.directory ? std::vector<uint8_t>{} : e.data;
      EXPECT_EQ(f.name, sample.names[i]);
      EXPECT_EQ(f.kind, sample.kinds[i]);
      EXPECT_EQ(f.encrypted, e.encrypted);
      EXPECT_TRUE(f.stored && f.sizeKnown && !f.split);
      EXPECT_EQ(f.size, data.size());
      ASSERT_EQ(f.packedSize, data.size());
      ASSERT_LE(f.dataOffset + f.packedSize, sample.bytes.size());
      EXPECT_EQ(std::vector<uint8_t>(
                    sample.bytes.begin() + static_cast<ptrdiff_t>(f.dataOffset),
                    sample.bytes.begin() + static_cast<ptrdiff_t>(f.dataOffset + f.packedSize)),
                data);
      if (e.directory || e.withoutCrc) {
        EXPECT_FALSE(f.crc.has_value());
      } else {
        EXPECT_EQ(f.crc, Crc32(data));
      }
    }
  }
}

TEST(RarWriterTest, SameEntriesGiveTheSameBytes) {
  std::vector<RarEntry> entries(1);
  entries[0].name = "a.txt";
  entries[0].data = Bytes("a");
  EXPECT_EQ(BuildRarArchive(entries), BuildRarArchive(entries));
}

TEST(RarWriterTest, EachEntryCarriesTheChecksumOfItsData) {
  std::vector<RarEntry> entries(2);
  entries[0].name = "one.txt";
  entries[0].data = Bytes("first file");
  entries[1].name = "folder/two.txt";
  entries[1].data = Bytes("second file");
  EXPECT_EQ(BuildRar5Archive(
                entries)[static_cast<size_t>(DataOffsetOfEntry(BuildRar5Archive(entries), 1))],
            's');
  const std::vector<uint8_t> bytes = BuildRarArchive(entries);
  for (size_t i = 0; i < entries.size(); ++i) {
    const int64_t at = DataOffsetOfEntry(bytes, i);
    ASSERT_GT(at, 0);
    const size_t header = static_cast<size_t>(at) - rar::kFileHeaderSize - entries[i].name.size();
    EXPECT_EQ(bytes[header + rar::kTypeAt], rar::kTypeFile);
    EXPECT_EQ(io::LoadU32(bytes.data() + header + rar::kFileCrcAt), Crc32(entries[i].data));
    EXPECT_EQ(bytes[static_cast<size_t>(at)], entries[i].data[0]);
  }
  EXPECT_EQ(DataOffsetOfEntry(bytes, 2), -1);
}

TEST(RarWriterTest, ADamagedHeaderIsCaughtByTheReader) {
  std::vector<RarEntry> entries(1);
  entries[0].name = "one.txt";
  entries[0].data = Bytes("first file");
  std::vector<uint8_t> bytes = BuildRarArchive(entries);
  const int64_t data = DataOffsetOfEntry(bytes, 0);
  bytes[static_cast<size_t>(data) - 1] ^= 0x20;  // last byte of the name
  int status = 0;
  ReadWithLibarchive(bytes, status);
  EXPECT_LT(status, ARCHIVE_WARN);
}

TEST(RarWriterTest, RefusesNamesItCannotStore) {
  std::vector<RarEntry> entries(1);
  EXPECT_THROW(BuildRarArchive(entries), std::invalid_argument);
  entries[0].name = "/";
  EXPECT_THROW(BuildRarArchive(entries), std::invalid_argument);
  entries[0].name = std::string(70000, 'x');
  EXPECT_THROW(BuildRarArchive(entries), std::invalid_argument);
}

}  // namespace
}  // namespace varmex::tools
