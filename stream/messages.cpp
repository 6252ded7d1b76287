#include "stream/messages.h"

#include <algorithm>
#include <iterator>

namespace velmar {

namespace {

struct Message {
  int N;
  const char* Text;
};

// Sorted by number. The texts are the library's own, kept as they stand.
constexpr Message kMessages[] = {
    {60, "Change to property while device was open"},
    {61, "Invalid DeviceID"},
    {62, "Invalid WaveFormat"},
    {64, "Unable to allocate memory for wave header"},
    {70, "The actual device can't play this format"},
    {71, "Unable to open device"},
    {72, "Unable to close device"},
    {80, "Unable to start device"},
    {81, "Error filling wave buffer"},
    {86, "Specified error number is out of range (unknown error)"},
    {87, "The actual device can't record this format"},
    {88, "Could not create thread"},
    {89, "Invalid wave format"},
    {130, "Error reading wave file"},
    {133, "Invalid wave file..."},
    {137, "Unable to setup file IO buffer"},
    {138, "Unable to open wave file"},
    {139, "Unable to create wave file"},
    {147, "Error seeking file position"},
    {160, "No wave audio recording device found"},
    {161, "No wave audio playing device found"},
    {162, "Unable to open device"},
    {163, "Unable to close device"},
    {170, "Unable to convert to destination format"},
};

static_assert(std::is_sorted(std::begin(kMessages), std::end(kMessages),
                             [](const Message& a, const Message& b) { return a.N < b.N; }));

}  // namespace

std::string LoadResString(int Ident) {
  const int N = Ident - kLibMessageBase;
  const auto* It = std::lower_bound(std::begin(kMessages), std::end(kMessages), N,
                                    [](const Message& m, int n) { return m.N < n; });
  if (It == std::end(kMessages) || It->N != N) return {};
  return It->Text;
}

std::string LibMessage(int N) {
  return LoadResString(kLibMessageBase + N);
}

}  // namespace velmar
