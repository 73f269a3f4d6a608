#include "installer/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "io/unit_file.h"
#include "platform/fake_platform.h"

namespace varmex::installer {
namespace {

using platform::FakePlatform;

TEST(MessagesTest, ErrorAndWarningShowTheTextAsBuiltUpToItsNul) {
  FakePlatform fake;
  std::string field = "Linia 1\nLinia 2 ";
  field.push_back('\0');
  field += "ignorat      ";
  ShowError(fake, field);
  ShowWarning(fake, "Atentie la date:    1\n ");
  ASSERT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.messages[0].text, "Linia 1\nLinia 2 ");
  EXPECT_EQ(fake.messages[0].caption, "Eroare");
  EXPECT_EQ(fake.messages[0].style, 0x41030u);
  EXPECT_EQ(fake.messages[1].text, "Atentie la date:    1\n ");
  EXPECT_EQ(fake.messages[1].caption, "Atentie");
  EXPECT_EQ(fake.messages[1].style, 0x41030u);
}

TEST(MessagesTest, EndProgramClosesTheOpenUnitsAndStopsWithTheStatus) {
  FakePlatform fake;
  fake.AddFile("C:\\kedro\\a.dat", std::vector<uint8_t>(512, 0));
  ASSERT_EQ(io::OpenUnit(fake, 3, "C:\\kedro\\a.dat", 512), 0);
  ASSERT_TRUE(io::UnitInUse(3));
  try {
    EndProgram(fake, 1);
    FAIL() << "EndProgram returned";
  } catch (const FakePlatform::ExitCalled& e) {
    EXPECT_EQ(e.status, 1);
  }
  EXPECT_FALSE(io::UnitInUse(3));
}

TEST(MessagesTest, FinishProgramGivesBackTheStatus) {
  FakePlatform fake;
  EXPECT_EQ(FinishProgram(fake, 0), 0);
  EXPECT_EQ(FinishProgram(fake, 1), 1);
}

}  // namespace
}  // namespace varmex::installer
