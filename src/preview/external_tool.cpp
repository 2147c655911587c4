#include "preview/external_tool.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include "preview/document_view.h"

namespace qm {

int RunTool(const QString& program, const QStringList& arguments, std::stop_token stop, QByteArray& output) {
  output.clear();
  const QString found = QStandardPaths::findExecutable(program);
  if (found.isEmpty()) return kConvertToolMissing;

  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  process.start(found, arguments, QIODevice::ReadOnly);
  if (!process.waitForStarted(kToolTimeLimitMs)) return kConvertToolMissing;

  QElapsedTimer clock;
  clock.start();
  bool cutShort = false;
  while (process.state() != QProcess::NotRunning) {
    if (stop.stop_requested() || clock.elapsed() > kToolTimeLimitMs || output.size() > kMaxToolOutputBytes) {
      cutShort = true;
      break;
    }
    // A program that closed its output but keeps running is waited for,
    // not polled in a busy loop.
    if (!process.waitForReadyRead(100)) process.waitForFinished(100);
    output += process.readAllStandardOutput();
  }
  if (cutShort) {
    process.kill();
    process.waitForFinished(1000);
    // Enough output for the preview is still a result; a timeout or a
    // cancel is not.
    if (output.size() <= kMaxToolOutputBytes) return kConvertNothingOut;
    output.truncate(kMaxToolOutputBytes);
    return 0;
  }
  output += process.readAllStandardOutput();
  if (output.size() > kMaxToolOutputBytes) output.truncate(kMaxToolOutputBytes);
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return kConvertNothingOut;
  return 0;
}

}  // namespace qm
