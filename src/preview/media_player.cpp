#include "preview/media_player.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace qm {

namespace {

constexpr int kDefaultVolume = 80;

}  // namespace

MediaPlayer::MediaPlayer(QWidget* parent) : QWidget(parent) {
  setObjectName("MediaPlayer");
  // The style sheet paints its background and border.
  setAttribute(Qt::WA_StyledBackground);
  player_ = new QMediaPlayer(this);
  audio_ = new QAudioOutput(this);
  audio_->setVolume(kDefaultVolume / 100.0F);
  player_->setAudioOutput(audio_);

  video_ = new QVideoWidget(this);
  video_->setObjectName("VideoView");
  video_->setMinimumSize(320, 180);
  video_->hide();
  player_->setVideoOutput(video_);

  playPause_ = new QToolButton(this);
  playPause_->setObjectName("PlayBtn");
  playPause_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  playPause_->setToolTip(tr("Play"));
  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName("PositionSlider");
  position_->setRange(0, 0);
  volume_ = new QSlider(Qt::Horizontal, this);
  volume_->setObjectName("VolumeSlider");
  volume_->setRange(0, 100);
  volume_->setValue(kDefaultVolume);
  volume_->setMaximumWidth(100);
  volume_->setToolTip(tr("Volume"));

  auto* controls = new QHBoxLayout();
  controls->setSpacing(10);
  controls->setContentsMargins(12, 6, 12, 10);
  controls->addWidget(playPause_);
  controls->addWidget(position_, 1);
  controls->addWidget(volume_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  column->addWidget(video_, 1);
  // Takes the room only while the video area is hidden, keeping the
  // controls of an audio file at the bottom.
  column->addStretch(0);
  column->addLayout(controls);

  connect(playPause_, &QToolButton::clicked, this, [this] {
    if (player_->playbackState() == QMediaPlayer::PlayingState) {
      player_->pause();
    } else {
      player_->play();
    }
  });
  connect(position_, &QSlider::sliderMoved, player_, &QMediaPlayer::setPosition);
  connect(volume_, &QSlider::valueChanged, audio_, [this](int value) { audio_->setVolume(value / 100.0F); });
  connect(player_, &QMediaPlayer::durationChanged, this,
          [this](qint64 duration) { position_->setRange(0, static_cast<int>(duration)); });
  connect(player_, &QMediaPlayer::positionChanged, this, &MediaPlayer::OnPosition);
  connect(player_, &QMediaPlayer::mediaStatusChanged, this, &MediaPlayer::OnStatus);
  connect(player_, &QMediaPlayer::errorOccurred, this, &MediaPlayer::OnError);
  connect(player_, &QMediaPlayer::playbackStateChanged, this, &MediaPlayer::ShowState);
  // Audio-only files leave the whole window to the controls.
  connect(player_, &QMediaPlayer::hasVideoChanged, video_, &QWidget::setVisible);
}

MediaPlayer::~MediaPlayer() { Stop(); }

void MediaPlayer::Play(const QString& path) {
  Stop();
  reported_ = false;
  position_->setRange(0, 0);
  player_->setSource(QUrl::fromLocalFile(path));
  player_->play();
}

void MediaPlayer::Stop() {
  reported_ = true;
  player_->stop();
  // An empty source closes the file; stopping alone keeps it open.
  player_->setSource(QUrl());
  video_->hide();
}

bool MediaPlayer::ShowsVideo() const { return player_->hasVideo(); }

QMediaPlayer::PlaybackState MediaPlayer::State() const { return player_->playbackState(); }

void MediaPlayer::OnStatus(QMediaPlayer::MediaStatus status) {
  if (status == QMediaPlayer::InvalidMedia) {
    Fail(player_->errorString().isEmpty() ? QString("The file holds no playable media.") : player_->errorString());
  } else if (status == QMediaPlayer::EndOfMedia) {
    // Media shorter than one position report still played.
    MarkStarted();
  }
}

void MediaPlayer::OnPosition(qint64 position) {
  if (!position_->isSliderDown()) position_->setValue(static_cast<int>(position));
  if (position > 0 && player_->playbackState() == QMediaPlayer::PlayingState) MarkStarted();
}

void MediaPlayer::OnError(QMediaPlayer::Error error, const QString& text) {
  if (error == QMediaPlayer::NoError) return;
  Fail(text.isEmpty() ? QString("The media cannot be played.") : text);
}

void MediaPlayer::MarkStarted() {
  if (reported_) return;
  reported_ = true;
  emit PlaybackStarted();
}

void MediaPlayer::Fail(const QString& reason) {
  if (reported_) return;
  reported_ = true;
  player_->stop();
  emit PlaybackFailed(reason);
}

void MediaPlayer::ShowState(QMediaPlayer::PlaybackState state) {
  const bool playing = state == QMediaPlayer::PlayingState;
  playPause_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
  playPause_->setToolTip(playing ? tr("Pause") : tr("Play"));
}

}  // namespace qm
