#include "installer/directories.h"

#include <gtest/gtest.h>

#include "platform/fake_platform.h"

namespace varmex::installer {
namespace {

using platform::FakePlatform;

int Ensure(FakePlatform& fake, std::string_view path) {
  try {
    EnsureDirectory(fake, path);
  } catch (const FakePlatform::ExitCalled& e) {
    return e.status;
  }
  return -1;
}

TEST(EnsureDirectoryTest, CreatesTheLastLevelAndAcceptsExistingOnes) {
  FakePlatform fake;
  fake.AddDirectory("D:\\");
  EXPECT_EQ(Ensure(fake, "D:\\kedro          "), -1);
  EXPECT_TRUE(fake.Exists("D:\\kedro"));
  EXPECT_EQ(Ensure(fake, "D:\\kedro"), -1);  // again: nothing to do
  fake.AddDirectory("D:\\kedro\\Varmex");
  fake.SetFileAttributes("D:\\kedro\\Varmex",
                         platform::kAttributeReadOnly | 0x02);  // read-only, hidden
  EXPECT_EQ(Ensure(fake, "D:\\kedro\\Varmex"), -1);
  EXPECT_TRUE(fake.messages.empty());
}

TEST(EnsureDirectoryTest, AMissingParentShowsThePlatformCodeInFiveCharacters) {
  FakePlatform fake;
  fake.AddDirectory("D:\\");
  EXPECT_EQ(Ensure(fake, "D:\\kedro\\Rasvent\\FileGen  "), 1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text,
            "Nu poate fi creat directorul D:\\kedro\\Rasvent\\FileGen (eroare     3)!");
  EXPECT_EQ(fake.messages[0].caption, "Eroare");
  EXPECT_FALSE(fake.Exists("D:\\kedro\\Rasvent\\FileGen"));
}

TEST(EnsureDirectoryTest, AFileInTheWayIsNamedWithItsFullPath) {
  FakePlatform fake;
  fake.AddDirectory("D:\\");
  fake.AddDirectory("D:\\kedro");
  fake.AddFile("D:\\kedro\\ERP", {'x'});
  EXPECT_EQ(Ensure(fake, "D:\\kedro\\ERP"), 1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text,
            "Nu poate fi creat directorul D:\\kedro\\ERP (exista un fisier cu acest nume)!");
  EXPECT_EQ(fake.Bytes("D:\\kedro\\ERP")->size(), 1u);  // left as it was
}

}  // namespace
}  // namespace varmex::installer
