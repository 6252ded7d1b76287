#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/wave_format.h"
#include "tests/support/chain_doubles.h"

namespace velmar {
namespace {

using test::Log;
using test::LoggedDevice;
using test::LoggedPlain;

// The monitoring chain's shape: input device -> connector -> output device.
struct InConnOut : ::testing::Test {
  Log Events;
  LoggedDevice In{"In", &Events};
  LoggedPlain Conn{"Conn", &Events};
  LoggedDevice Out{"Out", &Events};

  InConnOut() {
    In.SetOutput(&Conn);
    Conn.SetOutput(&Out);
    Events.clear();
  }
};

TEST_F(InConnOut, OpeningRunsFromTheSourceDownward) {
  WAVEFORMATEX f{};
  In.SetPWaveFormat(BuildPCMFormat(&f, 16, 2, 44100));
  In.SetBufferSize(4098);
  In.Opened();
  EXPECT_EQ(Events, (Log{"In.Opened", "Conn.Opened", "Out.Opened"}));
  // Everyone got the device's buffer size, cut to whole frames.
  EXPECT_EQ(Conn.BufferSize(), 4096);
  EXPECT_EQ(Out.BufferSize(), 4096);
  EXPECT_TRUE(In.IsOpened() && Conn.IsOpened() && Out.IsOpened());
  EXPECT_FALSE(In.HasSourceDevice());
  EXPECT_TRUE(Out.HasSourceDevice());
}

TEST_F(InConnOut, StoppingAndClosingReachTheOutputDeviceFirst) {
  In.Opened();
  In.Started();
  Events.clear();
  In.Stopped();
  EXPECT_EQ(Events, (Log{"In.Stopped", "Out.Stopped", "Conn.Stopped"}));
  EXPECT_FALSE(Conn.IsStarted() || Out.IsStarted() || In.IsStarted());
  Events.clear();
  In.Closed();
  EXPECT_EQ(Events, (Log{"In.Closed", "Out.Closed", "Conn.Closed"}));
  EXPECT_FALSE(Conn.IsOpened() || Out.IsOpened() || In.IsOpened());
}

TEST_F(InConnOut, StartPauseRestartFollowTheOpeningOrder) {
  In.Opened();
  Events.clear();
  In.Started();
  In.Paused();
  In.Restarted();
  In.Resetting();
  In.Looped();
  EXPECT_EQ(Events,
            (Log{"In.Started", "Conn.Started", "Out.Started", "In.Paused", "Conn.Paused",
                 "Out.Paused", "In.Restarted", "Conn.Restarted", "Out.Restarted", "In.Resetting",
                 "Conn.Resetting", "Out.Resetting", "In.Looped", "Conn.Looped", "Out.Looped"}));
  EXPECT_TRUE(Conn.IsStarted() && Out.IsStarted());
  EXPECT_FALSE(Conn.IsPaused() || Out.IsPaused());
}

TEST_F(InConnOut, ADownstreamDeviceOnlyDrivesItsOwnSegment) {
  In.Opened();
  In.Started();
  Events.clear();
  Out.Stopped();  // the connector belongs to the input device's segment
  EXPECT_EQ(Events, Log{"Out.Stopped"});
  EXPECT_TRUE(Conn.IsStarted());
}

TEST(SoundSegment, WithoutASourceDeviceTheSegmentStartsAtTheTop) {
  Log Events;
  LoggedPlain File{"File", &Events}, Conv{"Conv", &Events}, Tail{"Tail", &Events};
  LoggedDevice Out{"Out", &Events};
  File.SetOutput(&Conv);
  Conv.SetOutput(&Out);
  Out.SetOutput(&Tail);
  Out.SetBufferSize(1000);
  Events.clear();

  Out.Opened();
  EXPECT_EQ(Events, (Log{"Out.Opened", "File.Opened", "Conv.Opened", "Tail.Opened"}));
  EXPECT_EQ(File.BufferSize(), 1000);
  EXPECT_FALSE(Out.HasSourceDevice());
  Out.Started();
  Events.clear();
  Out.Stopped();
  EXPECT_EQ(Events, (Log{"Out.Stopped", "File.Stopped", "Conv.Stopped", "Tail.Stopped"}));
}

TEST(SoundSegment, TheWalkEndsAtTheSecondDeviceBelow) {
  Log Events;
  LoggedDevice In{"In", &Events}, Mid{"Mid", &Events};
  LoggedPlain a{"a", &Events}, b{"b", &Events};
  In.SetOutput(&a);
  a.SetOutput(&Mid);
  Mid.SetOutput(&b);
  Events.clear();
  In.Opened();
  // Mid opens its own segment (b) when In reaches it.
  EXPECT_EQ(Events, (Log{"In.Opened", "a.Opened", "Mid.Opened", "b.Opened"}));
  In.Started();
  Events.clear();
  In.Stopped();
  EXPECT_EQ(Events, (Log{"In.Stopped", "Mid.Stopped", "b.Stopped", "a.Stopped"}));
}

}  // namespace
}  // namespace velmar
