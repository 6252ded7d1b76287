#include "stream/messages.h"

#include <gtest/gtest.h>

#include "stream/mm_types.h"

namespace velmar {
namespace {

TEST(Messages, NumberedFrom28000) {
  EXPECT_EQ(LoadResString(28060), "Change to property while device was open");
  EXPECT_EQ(LibMessage(60), LoadResString(28060));
  EXPECT_EQ(LibMessage(86), "Specified error number is out of range (unknown error)");
  EXPECT_EQ(LibMessage(89), "Invalid wave format");
  EXPECT_EQ(LibMessage(62), "Invalid WaveFormat");
  EXPECT_EQ(LibMessage(160), "No wave audio recording device found");
  EXPECT_EQ(LibMessage(163), "Unable to close device");
}

TEST(Messages, UnknownNumbersAreEmpty) {
  EXPECT_EQ(LibMessage(0), "");
  EXPECT_EQ(LibMessage(63), "");
  EXPECT_EQ(LibMessage(999), "");
  EXPECT_EQ(LoadResString(60), "");
}

TEST(DeviceIds, TextForm) {
  EXPECT_EQ(DeviceIdToText(MapperId), "MapperId");
  EXPECT_EQ(DeviceIdToText(InvalidId), "InvalidId");
  EXPECT_EQ(DeviceIdToText(3), "3");
  EXPECT_EQ(TextToDeviceId("mapperid"), MapperId);
  EXPECT_EQ(TextToDeviceId("INVALIDID"), InvalidId);
  EXPECT_EQ(TextToDeviceId("12"), 12);
  EXPECT_EQ(TextToDeviceId("-1"), MapperId);
  EXPECT_EQ(TextToDeviceId(" 7"), 7);
  EXPECT_EQ(TextToDeviceId("+7"), 7);
  for (const char* Bad : {"", "abc", "5x", "+-3", "Mapper", "99999999999"})
    EXPECT_THROW(TextToDeviceId(Bad), std::invalid_argument) << Bad;
}

}  // namespace
}  // namespace velmar
