#include "session/side_edit.h"

#include <algorithm>
#include <cstdlib>

namespace velmar {

void TSideEdit::Reset(const std::vector<std::int64_t>& TrackFrames,
                      std::vector<std::string> Titles) {
  FFrames = 0;
  FStart = {};
  for (std::size_t t = 0; t < TrackFrames.size(); ++t) {
    if (t > 0) FStart.Marks.push_back(FFrames);
    FFrames += TrackFrames[t];
  }
  Titles.resize(FStart.Marks.size() + 1);
  FStart.Titles = std::move(Titles);
  FStart.Out.assign(FStart.Titles.size(), false);
  FNow = FStart;
  FUndo.clear();
  FRedo.clear();
}

std::size_t TSideEdit::KeptTracks() const {
  return static_cast<std::size_t>(std::count(FNow.Out.begin(), FNow.Out.end(), false));
}

bool TSideEdit::Fits(const std::vector<std::int64_t>& Marks) const {
  for (std::size_t i = 0; i < Marks.size(); ++i)
    if (!FitsAt(Marks, i)) return false;
  return true;
}

bool TSideEdit::FitsAt(const std::vector<std::int64_t>& Marks, std::size_t Index) const {
  const std::int64_t Before = Index == 0 ? 0 : Marks[Index - 1];
  const std::int64_t After = Index + 1 < Marks.size() ? Marks[Index + 1] : FFrames;
  return Marks[Index] - Before >= kMinGap && After - Marks[Index] >= kMinGap;
}

void TSideEdit::Commit(TState Next) {
  FUndo.push_back(FNow);
  FRedo.clear();
  FNow = std::move(Next);
}

bool TSideEdit::MoveMark(std::size_t Index, std::int64_t To) {
  if (Index >= FNow.Marks.size() || To == FNow.Marks[Index]) return false;
  TState Next = FNow;
  Next.Marks[Index] = To;
  if (!FitsAt(Next.Marks, Index)) return false;
  Commit(std::move(Next));
  return true;
}

bool TSideEdit::DeleteMark(std::size_t Index) {
  if (Index >= FNow.Marks.size()) return false;
  TState Next = FNow;
  Next.Marks.erase(Next.Marks.begin() + static_cast<std::ptrdiff_t>(Index));
  Next.Titles.erase(Next.Titles.begin() + static_cast<std::ptrdiff_t>(Index) + 1);
  Next.Out[Index] = Next.Out[Index] && Next.Out[Index + 1];
  Next.Out.erase(Next.Out.begin() + static_cast<std::ptrdiff_t>(Index) + 1);
  Commit(std::move(Next));
  return true;
}

bool TSideEdit::AddMark(std::int64_t At) {
  TState Next = FNow;
  const auto Where = std::upper_bound(Next.Marks.begin(), Next.Marks.end(), At);
  const std::ptrdiff_t Track = Where - Next.Marks.begin();
  Next.Marks.insert(Where, At);
  if (!FitsAt(Next.Marks, static_cast<std::size_t>(Track))) return false;
  Next.Titles.insert(Next.Titles.begin() + Track + 1, std::string());
  Next.Out.insert(Next.Out.begin() + Track + 1, static_cast<bool>(Next.Out[static_cast<std::size_t>(Track)]));
  Commit(std::move(Next));
  return true;
}

bool TSideEdit::SetMarks(std::vector<std::int64_t> Marks) {
  std::sort(Marks.begin(), Marks.end());
  if (!Fits(Marks) || Marks == FNow.Marks) return false;
  TState Next{std::move(Marks), {}, {}};
  Next.Titles.resize(Next.Marks.size() + 1);
  Next.Out.assign(Next.Titles.size(), false);
  // Each title goes with its song: to the new track that holds most of the
  // old track it named (the first title there wins).
  auto Start = [](const std::vector<std::int64_t>& m, std::size_t t) {
    return t == 0 ? std::int64_t{0} : m[t - 1];
  };
  auto End = [this](const std::vector<std::int64_t>& m, std::size_t t) {
    return t < m.size() ? m[t] : FFrames;
  };
  for (std::size_t Old = 0; Old < FNow.Titles.size(); ++Old) {
    if (FNow.Titles[Old].empty()) continue;
    std::size_t Best = 0;
    std::int64_t Most = -1;
    for (std::size_t New = 0; New < Next.Titles.size(); ++New) {
      const std::int64_t Shared = std::min(End(FNow.Marks, Old), End(Next.Marks, New)) -
                                  std::max(Start(FNow.Marks, Old), Start(Next.Marks, New));
      if (Shared > Most) {
        Most = Shared;
        Best = New;
      }
    }
    if (Next.Titles[Best].empty()) Next.Titles[Best] = FNow.Titles[Old];
  }
  for (std::size_t New = 0; New < Next.Out.size(); ++New) {
    bool Out = true;
    for (std::size_t Old = 0; Old < FNow.Out.size() && Out; ++Old)
      Out = FNow.Out[Old] || End(FNow.Marks, Old) <= Start(Next.Marks, New) ||
            Start(FNow.Marks, Old) >= End(Next.Marks, New);
    Next.Out[New] = Out;
  }
  if (std::find(Next.Out.begin(), Next.Out.end(), false) == Next.Out.end()) return false;
  Commit(std::move(Next));
  return true;
}

bool TSideEdit::LeaveOut(std::size_t t, bool Out) {
  if (t >= FNow.Out.size() || FNow.Out[t] == Out || (Out && KeptTracks() == 1)) return false;
  TState Next = FNow;
  Next.Out[t] = Out;
  Commit(std::move(Next));
  return true;
}

bool TSideEdit::LeaveOutEnds(std::int64_t From, std::int64_t To) {
  From = std::max<std::int64_t>(From, 0);
  To = std::min(To, FFrames);
  if (To - From < kMinGap) return false;
  TState Next = FNow;
  // A mark within reach of an end already there is not added again.
  auto Cut = [&](std::int64_t At) {
    if (At < kMinGap || FFrames - At < kMinGap) return;
    const auto Where = std::lower_bound(Next.Marks.begin(), Next.Marks.end(), At - kMinGap + 1);
    if (Where != Next.Marks.end() && *Where < At + kMinGap) return;
    const std::ptrdiff_t Track = Where - Next.Marks.begin();
    Next.Marks.insert(Where, At);
    Next.Titles.insert(Next.Titles.begin() + Track + 1, std::string());
    Next.Out.insert(Next.Out.begin() + Track + 1,
                    static_cast<bool>(Next.Out[static_cast<std::size_t>(Track)]));
  };
  Cut(From);
  Cut(To);
  for (std::size_t t = 0; t < Next.Out.size(); ++t) {
    const std::int64_t Start = t == 0 ? 0 : Next.Marks[t - 1];
    const std::int64_t End = t < Next.Marks.size() ? Next.Marks[t] : FFrames;
    if (End <= From + kMinGap - 1 || Start >= To - kMinGap + 1) Next.Out[t] = true;
  }
  if (std::find(Next.Out.begin(), Next.Out.end(), false) == Next.Out.end() ||
      (Next.Marks == FNow.Marks && Next.Out == FNow.Out))
    return false;
  Commit(std::move(Next));
  return true;
}

bool TSideEdit::SetTitle(std::size_t Track, std::string Title) {
  return SetTitles(Track, {std::move(Title)});
}

bool TSideEdit::SetTitles(std::size_t First, const std::vector<std::string>& Titles) {
  TState Next = FNow;
  for (std::size_t i = 0; i < Titles.size() && First + i < Next.Titles.size(); ++i)
    Next.Titles[First + i] = Titles[i];
  if (Next.Titles == FNow.Titles) return false;
  Commit(std::move(Next));
  return true;
}

bool TSideEdit::Undo() {
  if (FUndo.empty()) return false;
  FRedo.push_back(FNow);
  FNow = FUndo.back();
  FUndo.pop_back();
  return true;
}

bool TSideEdit::Redo() {
  if (FRedo.empty()) return false;
  FUndo.push_back(FNow);
  FNow = FRedo.back();
  FRedo.pop_back();
  return true;
}

std::size_t QuietestFrame(const std::int16_t* Frames, std::size_t Count, std::size_t Preferred) {
  constexpr std::size_t kWindow = 110;  // 2.5 ms
  if (Count <= kWindow) return std::min(Preferred, Count > 0 ? Count - 1 : 0);
  auto Level = [&](std::size_t f) {
    return std::abs(static_cast<int>(Frames[2 * f])) +
           std::abs(static_cast<int>(Frames[2 * f + 1]));
  };
  long long Sum = 0;
  for (std::size_t f = 0; f < kWindow; ++f) Sum += Level(f);
  long long Best = Sum;
  std::size_t BestAt = kWindow / 2;
  for (std::size_t f = kWindow; f < Count; ++f) {
    Sum += Level(f) - Level(f - kWindow);
    const std::size_t Centre = f - kWindow / 2;
    const auto Distance = [&](std::size_t c) {
      return c > Preferred ? c - Preferred : Preferred - c;
    };
    if (Sum < Best || (Sum == Best && Distance(Centre) < Distance(BestAt))) {
      Best = Sum;
      BestAt = Centre;
    }
  }
  return BestAt;
}

}  // namespace velmar
