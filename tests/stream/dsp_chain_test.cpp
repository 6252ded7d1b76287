#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "stream/dsp_component.h"
#include "stream/wave_format.h"
#include "tests/support/chain_doubles.h"

namespace velmar {
namespace {

using test::TPlain;
using test::TSourceOnly;

WAVEFORMATEX Cd() {
  WAVEFORMATEX f{};
  return *BuildPCMFormat(&f, 16, 2, 44100);
}

bool SameFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  return a && b && std::memcmp(a, b, sizeof(WAVEFORMATEX)) == 0;
}

TEST(Linking, OutputAndInputStaySymmetric) {
  TPlain a, b, c;
  a.SetOutput(&b);
  EXPECT_EQ(b.Input(), &a);
  EXPECT_EQ(a.OutputPropName(), "Input");
  EXPECT_EQ(b.InputPropName(), "Output");

  c.SetInput(&a);  // a's old output forgets it
  EXPECT_EQ(b.Input(), nullptr);
  EXPECT_EQ(a.Output(), &c);
  EXPECT_EQ(c.Input(), &a);

  b.SetOutput(&c);  // c's old input forgets it
  EXPECT_EQ(a.Output(), nullptr);
  EXPECT_EQ(c.Input(), &b);

  c.SetInput(nullptr);
  EXPECT_EQ(b.Output(), nullptr);
  EXPECT_EQ(c.Input(), nullptr);
}

TEST(Linking, CyclesAndSelfLinksAreIgnored) {
  TPlain a, b, c;
  a.SetOutput(&a);
  a.SetInput(&a);
  EXPECT_EQ(a.Output(), nullptr);
  EXPECT_EQ(a.Input(), nullptr);

  a.SetOutput(&b);
  b.SetOutput(&c);
  c.SetOutput(&a);  // a lies upstream of c
  a.SetInput(&c);   // c lies downstream of a
  EXPECT_EQ(c.Output(), nullptr);
  EXPECT_EQ(a.Input(), nullptr);
  EXPECT_EQ(a.Output(), &b);
  EXPECT_EQ(b.Output(), &c);
}

TEST(Linking, OnlyPublishedOrAcceptingLinksConnect) {
  TSourceOnly Source;
  TPlain Plain;
  Plain.SetOutput(&Source);  // Source has no Input to be linked through
  EXPECT_EQ(Plain.Output(), nullptr);
  Source.SetAcceptsInput(true);
  Plain.SetOutput(&Source);
  Source.SetAcceptsInput(false);
  EXPECT_EQ(Plain.Output(), &Source);
  EXPECT_EQ(Source.Input(), &Plain);
  Plain.SetOutput(nullptr);
  EXPECT_EQ(Source.Input(), nullptr);
}

TEST(Linking, RandomRelinkingKeepsTheChainsSymmetricAndAcyclic) {
  constexpr int kCount = 7;
  std::vector<std::unique_ptr<TPlain>> c;
  for (int i = 0; i < kCount; ++i) c.push_back(std::make_unique<TPlain>());
  std::mt19937 Random(1234);
  std::uniform_int_distribution<int> Pick(0, kCount);  // kCount stands for null
  for (int Step = 0; Step < 5000; ++Step) {
    TPlain* Who = c[static_cast<size_t>(Pick(Random) % kCount)].get();
    const int Other = Pick(Random);
    TPlain* To = Other == kCount ? nullptr : c[static_cast<size_t>(Other)].get();
    if (Random() % 2)
      Who->SetInput(To);
    else
      Who->SetOutput(To);
    for (const auto& x : c) {
      if (x->Output()) {
        ASSERT_EQ(x->Output()->Input(), x.get()) << "step " << Step;
      }
      if (x->Input()) {
        ASSERT_EQ(x->Input()->Output(), x.get()) << "step " << Step;
      }
      int Length = 0;
      for (TMMDSPComponent* p = x.get(); p; p = p->Output()) ASSERT_LE(++Length, kCount);
    }
  }
}

TEST(FormatFlow, SourceFormatReachesEveryComponentAsACopy) {
  TPlain a, b, c;
  a.SetOutput(&b);
  b.SetOutput(&c);
  const WAVEFORMATEX f = Cd();
  a.SetPWaveFormat(&f);
  EXPECT_TRUE(SameFormat(a.PWaveFormat(), &f));
  EXPECT_TRUE(SameFormat(b.PWaveFormat(), &f));
  EXPECT_TRUE(SameFormat(c.PWaveFormat(), &f));
  EXPECT_NE(a.PWaveFormat(), b.PWaveFormat());
  EXPECT_NE(b.PWaveFormat(), c.PWaveFormat());

  b.SetInput(nullptr);
  EXPECT_TRUE(SameFormat(a.PWaveFormat(), &f));
  EXPECT_EQ(b.PWaveFormat(), nullptr);
  EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(FormatFlow, LinkingHandsTheFormatDown) {
  TPlain a, b, c;
  const WAVEFORMATEX f = Cd();
  a.SetPWaveFormat(&f);
  a.SetOutput(&b);
  EXPECT_TRUE(SameFormat(b.PWaveFormat(), &f));
  c.SetInput(&b);
  EXPECT_TRUE(SameFormat(c.PWaveFormat(), &f));
  a.SetOutput(nullptr);  // the old output and everything below lose it
  EXPECT_EQ(b.PWaveFormat(), nullptr);
  EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(FormatFlow, OwnCopyIsOnlyResent) {
  TPlain a, b;
  a.SetOutput(&b);
  const WAVEFORMATEX f = Cd();
  a.SetPWaveFormat(&f);
  WAVEFORMATEX* Own = a.PWaveFormat();
  b.SetPWaveFormat(nullptr);  // b forgets; a re-sends its own copy
  a.SetPWaveFormat(Own);
  EXPECT_EQ(a.PWaveFormat(), Own);
  EXPECT_TRUE(SameFormat(b.PWaveFormat(), &f));
}

TEST(FormatFlow, NothingFlowsWhileLoading) {
  TPlain a, b;
  a.SetOutput(&b);
  a.BeginLoading();
  const WAVEFORMATEX f = Cd();
  a.SetPWaveFormat(&f);
  EXPECT_EQ(b.PWaveFormat(), nullptr);
  a.Loaded();
  EXPECT_TRUE(SameFormat(b.PWaveFormat(), &f));
}

TEST(States, FlagsFollowTheNotifications) {
  TPlain c;
  c.Started();  // not opened: no effect
  EXPECT_FALSE(c.IsStarted());
  c.Opened();
  c.Started();
  c.Paused();
  EXPECT_TRUE(c.IsStarted());
  EXPECT_TRUE(c.IsPaused());
  c.Restarted();
  EXPECT_FALSE(c.IsPaused());
  c.Paused();
  c.Stopped();
  EXPECT_FALSE(c.IsStarted());
  EXPECT_FALSE(c.IsPaused());
  EXPECT_TRUE(c.IsOpened());
  c.Closed();
  EXPECT_FALSE(c.IsOpened());
}

TEST(States, FormatSizeAndLinkChangesStopAStartedComponent) {
  TPlain a, b;
  auto Start = [&] {
    a.Opened();
    a.Started();
    ASSERT_TRUE(a.IsStarted());
  };
  const WAVEFORMATEX f = Cd();
  Start();
  a.SetBufferSize(a.BufferSize());  // same value: keeps running
  EXPECT_TRUE(a.IsStarted());
  a.SetBufferSize(1000);
  EXPECT_FALSE(a.IsStarted());
  Start();
  a.SetPWaveFormat(&f);
  EXPECT_FALSE(a.IsStarted());
  Start();
  a.SetOutput(&b);
  EXPECT_FALSE(a.IsStarted());
}

TEST(BufferSize, RealSizeIsWholeFramesWhileOpened) {
  const WAVEFORMATEX f = Cd();
  TPlain c;
  EXPECT_EQ(c.BufferSize(), 2048);
  c.SetPWaveFormat(&f);
  c.SetBufferSize(2050);
  c.Opened();
  EXPECT_EQ(c.RealBufferSize(), 2048);
  EXPECT_EQ(c.BufferSize(), 2048);
  c.Closed();
  EXPECT_EQ(c.BufferSize(), 2050);
  c.SetBufferSize(3);
  c.Opened();
  EXPECT_EQ(c.BufferSize(), 4);
  c.Closed();

  TPlain NoFormat;
  NoFormat.SetBufferSize(2050);
  NoFormat.Opened();
  EXPECT_EQ(NoFormat.BufferSize(), 2050);

  WAVEFORMATEX Broken = f;  // a block size of 0 must not divide
  Broken.nBlockAlign = 0;
  TPlain Damaged;
  Damaged.SetPWaveFormat(&Broken);
  Damaged.SetBufferSize(2050);
  Damaged.Opened();
  EXPECT_EQ(Damaged.BufferSize(), 2050);
}

struct HeaderWithData {
  TMMWaveHdr Hdr{};
  char Data[64]{};
  HeaderWithData() {
    Hdr.wh.lpData = Data;
    Hdr.wh.dwBufferLength = sizeof Data;
  }
};

TEST(Push, EventFiresBeforeTheBufferGoesDown) {
  TPlain a, b, c;
  a.SetOutput(&b);
  b.SetOutput(&c);
  std::vector<std::string> Seen;
  a.OnBufferReady = [&](TObject* Sender, PWaveHdr h) {
    EXPECT_EQ(Sender, &a);
    h->wh.lpData[0] = 'x';  // changed in place
    Seen.push_back("a");
  };
  c.OnBufferReady = [&](TObject*, PWaveHdr h) {
    Seen.push_back(std::string("c") + h->wh.lpData[0]);
  };
  HeaderWithData Buffer;
  a.BufferReady(&Buffer.Hdr);
  EXPECT_EQ(Seen, (std::vector<std::string>{"a", "cx"}));
}

TEST(Pull, RequestTravelsUpToTheSource) {
  TPlain Source, Middle, Sink;
  Source.SetOutput(&Middle);
  Middle.SetOutput(&Sink);
  std::vector<std::string> Seen;
  Sink.OnBufferLoad = [&](TObject*, PWaveHdr, bool&) { Seen.push_back("sink"); };
  Source.OnBufferLoad = [&](TObject*, PWaveHdr h, bool& More) {
    Seen.push_back("source");
    std::memset(h->wh.lpData, 7, 10);
    h->wh.dwBytesRecorded = 10;
    More = true;
  };
  HeaderWithData Buffer;
  EXPECT_TRUE(PullBuffer(Sink, &Buffer.Hdr, 64));
  EXPECT_EQ(Seen, (std::vector<std::string>{"sink", "source"}));
  EXPECT_EQ(Buffer.Hdr.wh.dwBytesRecorded, 10u);
  EXPECT_EQ(Buffer.Hdr.wh.dwBufferLength, 64u);
}

TEST(Pull, AnEmptyBufferEndsTheStreamAndOverlongCountsAreCut) {
  TPlain Source;
  std::uint32_t Deliver = 0;
  Source.OnBufferLoad = [&](TObject*, PWaveHdr h, bool& More) {
    h->wh.dwBytesRecorded = Deliver;
    More = true;
  };
  HeaderWithData Buffer;
  Buffer.Hdr.wh.dwBytesRecorded = 99;  // stale from the last round
  EXPECT_FALSE(PullBuffer(Source, &Buffer.Hdr, 64));
  Deliver = 1000;
  EXPECT_TRUE(PullBuffer(Source, &Buffer.Hdr, 64));
  EXPECT_EQ(Buffer.Hdr.wh.dwBytesRecorded, 64u);
}

TEST(Removal, DestroyingAComponentUnlinksItsNeighbours) {
  const int Before = DSPComponentCount();
  {
    TPlain a, c;
    auto b = std::make_unique<TPlain>();
    a.SetOutput(b.get());
    b->SetOutput(&c);
    const WAVEFORMATEX f = Cd();
    a.SetPWaveFormat(&f);
    EXPECT_EQ(DSPComponentCount(), Before + 3);
    b.reset();
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
  }
  EXPECT_EQ(DSPComponentCount(), Before);
}

TEST(Removal, SiblingsDropLinksToAComponentLeavingTheOwner) {
  TComponent Owner(nullptr);
  auto* a = new TPlain(&Owner);
  auto* b = new TPlain(&Owner);
  a->SetOutput(b);
  Owner.RemoveComponent(b);
  EXPECT_EQ(a->Output(), nullptr);
  EXPECT_EQ(b->Input(), nullptr);
  delete b;
}

}  // namespace
}  // namespace velmar
