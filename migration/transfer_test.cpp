// The copy of one data file: spelling, read-only destinations, missing files, failures.
#include "migration/transfer.h"

#include <gtest/gtest.h>

#include "platform/fake_platform.h"

namespace varmex::migration {
namespace {

using platform::FakePlatform;

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

// A platform whose copies fail with a chosen error code.
class FailingCopyPlatform : public FakePlatform {
 public:
  uint32_t copyError = 0;
  uint32_t CopyFile(std::string_view from, std::string_view to, bool failIfExists) override {
    if (copyError != 0) return copyError;
    return FakePlatform::CopyFile(from, to, failIfExists);
  }
};

TEST(TransferDataFile, CopiesUnderTheCallersSpellingAndReplacesAReadOnlyDestination) {
  FakePlatform os;
  os.AddFile("C:\\Old\\dev.dat", Bytes("old data"));
  os.SetFileAttributes("C:\\Old\\dev.dat", platform::kAttributeReadOnly);
  os.AddFile("D:\\kedro\\Varmex\\DEV.DAT", Bytes("installed"));
  os.SetFileAttributes("D:\\kedro\\Varmex\\DEV.DAT", platform::kAttributeReadOnly);

  TransferDataFile(os, "DEV.DAT             ", "C:\\Old\\", "D:\\kedro\\Varmex\\", true);

  ASSERT_NE(os.Bytes("D:\\kedro\\Varmex\\DEV.DAT"), nullptr);
  EXPECT_EQ(*os.Bytes("D:\\kedro\\Varmex\\DEV.DAT"), Bytes("old data"));
  // The copy of a read-only source is left writable, the source keeps its mark.
  EXPECT_EQ(os.GetFileAttributes("D:\\kedro\\Varmex\\DEV.DAT"), platform::kAttributeNormal);
  EXPECT_EQ(os.GetFileAttributes("C:\\Old\\dev.dat"), platform::kAttributeReadOnly);
  EXPECT_EQ(*os.Bytes("C:\\Old\\dev.dat"), Bytes("old data"));
  EXPECT_TRUE(os.messages.empty());
}

TEST(TransferDataFile, MissingRequiredFileWarnsAndLeavesTheDestination) {
  FakePlatform os;
  os.AddFile("D:\\kedro\\Varmex\\OBI.DAT", Bytes("installed"));
  TransferDataFile(os, "OBI.DAT             ", "C:\\Palunor\\Varmex\\", "D:\\kedro\\Varmex\\",
                   true);
  ASSERT_EQ(os.messages.size(), 1u);
  EXPECT_EQ(os.messages[0].text, "Nu exista fisierul C:\\Palunor\\Varmex\\OBI.DAT");
  EXPECT_EQ(os.messages[0].caption, "Atentie");
  EXPECT_EQ(os.messages[0].style, 0x41030u);
  EXPECT_EQ(*os.Bytes("D:\\kedro\\Varmex\\OBI.DAT"), Bytes("installed"));
}

TEST(TransferDataFile, MissingOptionalFileIsSkippedSilently) {
  FakePlatform os;
  os.AddFile("D:\\kedro\\Varmex\\ANGA.DAT", Bytes("installed"));
  TransferDataFile(os, "ANGA.DAT", "C:\\Old\\", "D:\\kedro\\Varmex\\", false);
  EXPECT_TRUE(os.messages.empty());
  EXPECT_EQ(*os.Bytes("D:\\kedro\\Varmex\\ANGA.DAT"), Bytes("installed"));
}

TEST(TransferDataFile, CopyFailureShowsTheCodeInFiveCharactersOrInFull) {
  FailingCopyPlatform os;
  os.AddFile("C:\\Old\\ANGA.DAT", Bytes("x"));
  os.copyError = 5;
  TransferDataFile(os, "ANGA.DAT            ", "C:\\Old\\", "D:\\kedro\\Varmex\\", false);
  os.copyError = 1234567;
  TransferDataFile(os, "ANGA.DAT            ", "C:\\Old\\", "D:\\kedro\\Varmex\\", false);
  ASSERT_EQ(os.messages.size(), 2u);
  EXPECT_EQ(os.messages[0].text, "Eroare [    5] la copierea fisierului ANGA.DAT!");
  EXPECT_EQ(os.messages[0].caption, "Eroare");
  EXPECT_EQ(os.messages[1].text, "Eroare [1234567] la copierea fisierului ANGA.DAT!");
}

TEST(TransferDataFile, OldCollectionInsideTheNewTreeIsNotDeleted) {
  FakePlatform os;
  os.AddFile("D:\\kedro\\Varmex\\dev.dat", Bytes("only copy"));
  TransferDataFile(os, "DEV.DAT", "d:\\KEDRO\\varmex\\", "D:\\kedro\\Varmex\\", true);
  ASSERT_NE(os.Bytes("D:\\kedro\\Varmex\\dev.dat"), nullptr);
  EXPECT_EQ(*os.Bytes("D:\\kedro\\Varmex\\dev.dat"), Bytes("only copy"));
  EXPECT_TRUE(os.messages.empty());
}

}  // namespace
}  // namespace varmex::migration
