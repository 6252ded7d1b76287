#include "mp3/encoder_library.h"

#include <dlfcn.h>

#include "mp3/encoder_registry.h"
#include "platform/registry/settings_store.h"

namespace velmar {

TFhgEncoderLibrary::~TFhgEncoderLibrary() {
  if (FHandle) ::dlclose(FHandle);
}

void* TFhgEncoderLibrary::LoadFhgEncoderLibrary(
    const std::function<void(const std::string&)>& ShowMessage) {
  if (FHandle) return FHandle;
  const std::string Name = ReadRegValue(kEncoderRoot, kEncoderKey, "FhgEncoder", "vlfhgencr.dll");
  FEntries.fill(nullptr);
  void* Library = ::dlopen(Name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Library) return nullptr;  // absent, silently
  bool All = true;
  for (std::size_t i = 0; i < kEntryPoints.size(); ++i) {
    FEntries[i] = ::dlsym(Library, kEntryPoints[i]);
    All = All && FEntries[i];
  }
  if (All) {
    FHandle = Library;
    return FHandle;
  }
  FEntries.fill(nullptr);
  ::dlclose(Library);
  if (ShowMessage)
    ShowMessage("Velmar MP3 Encoder failed to load the file " + Name +
                ".\n\rPlease reinstall Velmar MP3 Encoder.");
  return nullptr;
}

}  // namespace velmar
