// Keeps the machine from sleeping while a recording runs: a logind inhibitor
// lock ("sleep:idle", mode "block") taken through the system bus, held as the
// descriptor logind hands back. Closing it releases the lock, and so does the
// process's death, whatever kills it.
//
// Owned by whoever records; one thread at a time (the session's, the main one).
#pragma once

#include <string>

namespace velmar {

class TSleepInhibitor {
 public:
  TSleepInhibitor() = default;
  ~TSleepInhibitor() { Release(); }
  TSleepInhibitor(const TSleepInhibitor&) = delete;
  TSleepInhibitor& operator=(const TSleepInhibitor&) = delete;

  // Takes the lock for Who, saying Why (nothing when held already); false,
  // with Error saying why in a user's words, when no logind answers on the
  // system bus (DBUS_SYSTEM_BUS_ADDRESS names another bus, as tests do).
  bool Hold(const char* Who, const char* Why, std::string& Error);
  void Release();
  bool Held() const { return FFd >= 0; }

 private:
  int FFd = -1;
};

}  // namespace velmar
