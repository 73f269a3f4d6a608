#include "tools/rarwrite/rar_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    const size_t header = static_cast<size_t>(at) - 32 - entries[i].name.size();
    EXPECT_EQ(bytes[header + 2], 0x74);
    const uint32_t stored = static_cast<uint32_t>(bytes[header + 16]) | (bytes[header + 17] << 8) |
                            (bytes[header + 18] << 16) |
                            (static_cast<uint32_t>(bytes[header + 19]) << 24);
    EXPECT_EQ(stored, Crc32(entries[i].data));
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
