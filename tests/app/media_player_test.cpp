#include <QDir>
#include <QFileInfo>
#include <QMediaFormat>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTest>
#include <QVideoWidget>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>

#include "preview/media_player.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::TempDir;
using test::WriteBytes;

void PutLe(std::string* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// One second of a 440 Hz tone: 16-bit mono PCM at 8000 samples a second.
std::string ToneWav() {
  constexpr uint32_t kRate = 8000;
  std::string samples;
  for (uint32_t i = 0; i < kRate; ++i) {
    const double value = 12000.0 * std::sin(2.0 * M_PI * 440.0 * i / kRate);
    PutLe(&samples, static_cast<uint16_t>(static_cast<int16_t>(value)), 2);
  }
  std::string wav = "RIFF";
  PutLe(&wav, static_cast<uint32_t>(36 + samples.size()), 4);
  wav += "WAVEfmt ";
  PutLe(&wav, 16, 4);          // format chunk size
  PutLe(&wav, 1, 2);           // PCM
  PutLe(&wav, 1, 2);           // channels
  PutLe(&wav, kRate, 4);       // sample rate
  PutLe(&wav, kRate * 2, 4);   // bytes per second
  PutLe(&wav, 2, 2);           // bytes per frame
  PutLe(&wav, 16, 2);          // bits per sample
  wav += "data";
  PutLe(&wav, static_cast<uint32_t>(samples.size()), 4);
  return wav + samples;
}

// Whether this process holds `path` open.
bool HoldsOpen(const QString& path) {
  const QString target = QFileInfo(path).canonicalFilePath();
  for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
    if (fd.symLinkTarget() == target) return true;
  }
  return false;
}

TEST(MediaPlayer, PlaysAToneAndRefusesGarbage) {
  if (!QMediaPlayer().isAvailable()) GTEST_SKIP() << "Qt Multimedia has no usable back end on this machine";
  if (!QMediaFormat().supportedFileFormats(QMediaFormat::Decode).contains(QMediaFormat::Wave)) {
    GTEST_SKIP() << "the media back end cannot decode WAV here (GStreamer's good plugins are missing)";
  }
  TempDir dir;
  const QString tone = QString::fromStdString((dir / "tmp.wav").string());
  const QString garbage = QString::fromStdString((dir / "tmp.mp4").string());
  WriteBytes(dir / "tmp.wav", ToneWav());
  std::string noise(64 * 1024, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761U) >> 13);
  WriteBytes(dir / "tmp.mp4", noise);

  MediaPlayer player;
  player.resize(480, 320);
  player.show();
  QSignalSpy started(&player, &MediaPlayer::PlaybackStarted);
  QSignalSpy failed(&player, &MediaPlayer::PlaybackFailed);

  player.Play(tone);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !started.isEmpty() || !failed.isEmpty(); }, 8000))
      << "the tone neither started nor failed";
  ASSERT_TRUE(failed.isEmpty()) << failed.first().first().toString().toStdString();
  EXPECT_FALSE(player.ShowsVideo());
  EXPECT_FALSE(player.findChild<QVideoWidget*>("VideoView")->isVisible());
  player.Stop();
  EXPECT_FALSE(HoldsOpen(tone)) << "the stopped player still holds the file";

  player.Play(garbage);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !failed.isEmpty(); }, 8000)) << "garbage was not refused";
  EXPECT_EQ(started.size(), 1);
  EXPECT_EQ(failed.size(), 1);
  EXPECT_NE(player.State(), QMediaPlayer::PlayingState);
}

}  // namespace
}  // namespace qm
