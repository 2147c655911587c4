// SIGTERM, SIGINT and SIGHUP end the application the same way as closing
// its window, so that a session logout or `kill` still shuts down cleanly.
#pragma once

namespace qm {

// Call once, after the QApplication exists.
void QuitOnTerminationSignals();

}  // namespace qm
