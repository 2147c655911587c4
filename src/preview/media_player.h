// Plays an audio or video file inside the application window: a video
// area, a play/pause button, a position slider and a volume slider.
#pragma once

#include <QMediaPlayer>
#include <QString>
#include <QWidget>

class QAudioOutput;
class QSlider;
class QToolButton;
class QVideoWidget;

namespace qm {

class MediaPlayer : public QWidget {
  Q_OBJECT
 public:
  explicit MediaPlayer(QWidget* parent = nullptr);
  ~MediaPlayer() override;

  // Starts playing `path` from the beginning; ends whatever played before.
  void Play(const QString& path);
  // Stops and lets go of the file, so that it can be deleted.
  void Stop();

  bool ShowsVideo() const;
  QMediaPlayer::PlaybackState State() const;

 signals:
  // Once per Play(), when the media has really begun to play.
  void PlaybackStarted();
  // Once per Play(), when the file cannot be played; `reason` is for the log,
  // the user is shown the application's own message.
  void PlaybackFailed(const QString& reason);

 private:
  void OnStatus(QMediaPlayer::MediaStatus status);
  void OnPosition(qint64 position);
  void OnError(QMediaPlayer::Error error, const QString& text);
  void MarkStarted();
  void Fail(const QString& reason);
  void ShowState(QMediaPlayer::PlaybackState state);

  QMediaPlayer* player_ = nullptr;
  QAudioOutput* audio_ = nullptr;
  QVideoWidget* video_ = nullptr;
  QToolButton* playPause_ = nullptr;
  QSlider* position_ = nullptr;
  QSlider* volume_ = nullptr;
  // Whether the current Play() has already said how it went.
  bool reported_ = true;
};

}  // namespace qm
