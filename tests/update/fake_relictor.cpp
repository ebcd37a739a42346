// A stand-in for the `relictor` program in the update tests: it carries the
// product version note as the real one does and, given a number of
// seconds, waits that long (so that a test can find it running).

#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  if (argc > 1) std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[1])));
  return 0;
}
