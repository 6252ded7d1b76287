// A stand-in encoder program: records that it started, and its arguments, into
// started.txt in its current folder, then waits WAIT_MS milliseconds (from the
// environment) and exits.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
  std::ofstream Said("started.txt");
  Said << "started with " << argc - 1 << " arguments";
  for (int i = 1; i < argc; ++i) Said << " " << argv[i];
  Said << "\n";
  Said.close();
  const char* Wait = std::getenv("WAIT_MS");
  std::this_thread::sleep_for(std::chrono::milliseconds(Wait ? std::atoi(Wait) : 0));
  return 0;
}
