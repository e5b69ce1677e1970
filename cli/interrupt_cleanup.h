// What an interrupted batch leaves behind: nothing. Temporary files being
// written are removed when SIGINT, SIGTERM or SIGHUP stops the program, and
// a signal sent to the batch's main process reaches its worker processes
// first, so that each removes its own.
#pragma once

#include <sys/types.h>

#include <string>

namespace tabulon::cli {

// Installs the handlers (once; also inherited by forked workers).
void removeTemporariesOnSignal();

// Creates the temporary file path (open with O_CREAT | O_EXCL and flags)
// so that a signal removes it until forgetTemporary(slot). Returns the
// descriptor, or -1 with errno set (EINTR once a signal is stopping the
// program). slot is -1 when all slots are taken: the file is then not
// removed on a signal.
int createTemporary(const std::string& path, int flags, int& slot);
void forgetTemporary(int slot);

// A running worker process, to be signalled along with the batch.
void rememberWorker(pid_t pid);
void forgetWorker(pid_t pid);

// In a forked worker: its parent's workers are not its own.
void forgetAllWorkers();

}  // namespace tabulon::cli
