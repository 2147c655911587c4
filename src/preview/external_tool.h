// Legacy binary Office files are read by the catdoc tools when installed.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <stop_token>

namespace qm {

// Runs `program` (looked up on PATH) and collects its standard output, at
// most kMaxToolOutputBytes. The program is killed when it runs longer than
// kToolTimeLimitMs or `stop` is requested. 0 when it exited normally with
// status 0, kConvertToolMissing when it is not installed, otherwise
// kConvertNothingOut.
int RunTool(const QString& program, const QStringList& arguments, std::stop_token stop, QByteArray& output);

}  // namespace qm
