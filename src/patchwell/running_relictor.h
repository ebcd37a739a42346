#pragma once
// Finding and ending a running `relictor` before its files are replaced.

#include <QString>

#include <sys/types.h>

#include <chrono>
#include <vector>

namespace relictor::patchwell {

// The processes of this user whose program is the `relictor` of `folder`
// (the name compared without regard to case), found through /proc. A
// `relictor` started from another folder is left alone: it does not run
// the files that are about to be replaced.
std::vector<pid_t> FindRunningRelictor(const QString& folder);

// Asks each process to end (SIGTERM) and waits up to `wait` for all of
// them to be gone. True when none is left.
bool EndPrograms(const std::vector<pid_t>& processes, std::chrono::milliseconds wait);

}  // namespace relictor::patchwell
