#pragma once
// What the benchmarks share: running the tools that make their images,
// the sequential-read baseline, and a progress display that costs what a
// front end's does.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "worker/frontend.h"

namespace relictor::bench {

using Clock = std::chrono::steady_clock;

// Runs a shell command; says which one failed.
inline int Shell(const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return rc;
}

// Seconds to read the whole file in 1 MiB blocks; `bytes` gets its size.
inline double SequentialSeconds(const std::string& image, std::uint64_t& bytes) {
  int fd = ::open(image.c_str(), O_RDONLY);
  std::vector<char> buf(1 << 20);
  bytes = 0;
  auto t0 = Clock::now();
  for (;;) {
    ssize_t n = ::pread(fd, buf.data(), buf.size(), static_cast<off_t>(bytes));
    if (n <= 0) break;
    bytes += static_cast<std::uint64_t>(n);
  }
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  ::close(fd);
  return s;
}

// What a front end's display costs: every report stores its texts.
class StoringSink final : public ProgressSink {
 public:
  void SetText(ProgressText, const std::string& text) override { last = text; }
  void SetRange(ProgressBar, std::uint64_t, std::uint64_t) override {}
  void SetPos(ProgressBar, std::uint64_t p) override { pos = p; }
  std::string last;
  std::uint64_t pos = 0;
};

}  // namespace relictor::bench
