// The binding to the MP3 encoder's wrapper library: at start its name is read
// from the encoder's settings, the library is loaded by that name and its nine
// entry points are looked up in order. All nine found: the library is kept
// until the binding goes. Some missing: one message, and the library counts as
// absent. Not loadable: silently absent. No entry point is called here.
//
// Owned by the program's main function; main thread only.
#pragma once

#include <array>
#include <functional>
#include <string>

namespace velmar {

class TFhgEncoderLibrary {
 public:
  static constexpr std::array<const char*, 9> kEntryPoints = {"EncOpen",
                                                              "EncEncode",
                                                              "EncGetSupportedFormatList",
                                                              "EncSetOutputFormat",
                                                              "EncGetCurrentConfiguration",
                                                              "EncSetConfiguration",
                                                              "EncGetVBRIndexTable",
                                                              "EncClose",
                                                              "EncIsValid"};

  TFhgEncoderLibrary() = default;
  ~TFhgEncoderLibrary();
  TFhgEncoderLibrary(const TFhgEncoderLibrary&) = delete;
  TFhgEncoderLibrary& operator=(const TFhgEncoderLibrary&) = delete;

  // Binds the library once (later calls return the kept handle). ShowMessage
  // receives the message about an incomplete library.
  void* LoadFhgEncoderLibrary(const std::function<void(const std::string&)>& ShowMessage);
  void* Handle() const { return FHandle; }
  // The entry point found for Name, or null.
  void* EntryPoint(int Index) const { return FEntries[static_cast<std::size_t>(Index)]; }

 private:
  void* FHandle = nullptr;
  std::array<void*, 9> FEntries{};
};

}  // namespace velmar
