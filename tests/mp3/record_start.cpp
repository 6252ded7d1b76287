// A stand-in encoder program: records that it started (and in which folder,
// with which FileList environment) into started.txt in its current folder,
// then waits WAIT_MS milliseconds (from the environment) and exits.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

int main(int argc, char**) {
  std::ofstream("started.txt") << "started with " << argc - 1 << " arguments\n";
  const char* Wait = std::getenv("WAIT_MS");
  std::this_thread::sleep_for(std::chrono::milliseconds(Wait ? std::atoi(Wait) : 0));
  return 0;
}
