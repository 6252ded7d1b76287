#include "platform/power/sleep_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace velmar {

namespace {

// An answer within this time or none: a bus without logind answers at once,
// a stuck one must not hold up the start of a recording.
constexpr std::uint64_t kAnswerMicroseconds = 2'000'000;

struct TBusFree {
  void operator()(sd_bus* Bus) const { sd_bus_flush_close_unref(Bus); }
};
struct TMessageFree {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};

}  // namespace

bool TSleepInhibitor::Hold(const char* Who, const char* Why, std::string& Error) {
  if (Held()) return true;
  sd_bus* RawBus = nullptr;
  int e = sd_bus_open_system(&RawBus);
  if (e < 0) {
    Error = std::string("no system bus (") + std::strerror(-e) + ")";
    return false;
  }
  const std::unique_ptr<sd_bus, TBusFree> Bus(RawBus);
  sd_bus_message* RawCall = nullptr;
  e = sd_bus_message_new_method_call(Bus.get(), &RawCall, "org.freedesktop.login1",
                                     "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     "Inhibit");
  const std::unique_ptr<sd_bus_message, TMessageFree> Call(RawCall);
  if (e >= 0) e = sd_bus_message_append(Call.get(), "ssss", "sleep:idle", Who, Why, "block");
  sd_bus_error BusError{nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL, which is C
  sd_bus_message* RawReply = nullptr;
  if (e >= 0) e = sd_bus_call(Bus.get(), Call.get(), kAnswerMicroseconds, &BusError, &RawReply);
  const std::unique_ptr<sd_bus_message, TMessageFree> Reply(RawReply);
  int Fd = -1;
  if (e >= 0) e = sd_bus_message_read(Reply.get(), "h", &Fd);
  // The reply owns its descriptor: ours is a copy that outlives it.
  if (e >= 0) FFd = ::fcntl(Fd, F_DUPFD_CLOEXEC, 3);
  if (e >= 0 && FFd < 0) e = -errno;
  if (e < 0) {
    Error = sd_bus_error_is_set(&BusError) ? std::string("logind did not answer (") +
                                                 BusError.message + ")"
                                           : std::string("logind did not answer (") +
                                                 std::strerror(-e) + ")";
    sd_bus_error_free(&BusError);
    return false;
  }
  sd_bus_error_free(&BusError);
  return true;
}

void TSleepInhibitor::Release() {
  if (FFd < 0) return;
  ::close(FFd);
  FFd = -1;
}

}  // namespace velmar
