#include "fake_engine.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "engines/extraction/content_reader.h"
#include "engines/extraction/file_extractor.h"
#include "results/categories.h"

namespace fs = std::filesystem;

namespace qm::testing {

FakeScript LoadFakeScript(const std::string& fixtureName) {
  FakeScript script;
  QFile file(QString(QUILLMARK_SOURCE_DIR) + "/tests/app/fixtures/" + QString::fromStdString(fixtureName));
  if (!file.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "cannot read fixture " << fixtureName;
    return script;
  }
  QJsonParseError parseError;
  const QJsonObject root = QJsonDocument::fromJson(file.readAll(), &parseError).object();
  EXPECT_EQ(parseError.error, QJsonParseError::NoError) << fixtureName << ": " << parseError.errorString().toStdString();
  const QJsonObject scan = root["scan"].toObject();
  for (const QJsonValue& value : scan["reports"].toArray()) {
    const QJsonObject r = value.toObject();
    script.reports.push_back({r["step"].toInt(), r["secondsLeft"].toInteger(-1),
                              static_cast<uint64_t>(r["done"].toInteger()), static_cast<uint64_t>(r["total"].toInteger()),
                              static_cast<uint64_t>(r["found"].toInteger())});
  }
  script.scanResult = scan["result"].toInt();
  for (const QJsonValue& value : root["files"].toArray()) {
    const QJsonObject f = value.toObject();
    script.files.push_back({f["name"].toString().toStdString(), static_cast<uint64_t>(f["size"].toInteger()),
                            f["deleted"].toBool(), f["recoverError"].toInt(), f["unreadable"].toBool(), {}, false});
  }
  EXPECT_FALSE(script.reports.empty()) << fixtureName;
  return script;
}

int FakeEngine::SetCallbacks(ScanProgressFn scan, FileProgressFn file, void* user, int scale) {
  scanProgress_ = scan;
  fileProgress_ = file;
  user_ = user;
  scale_ = scale;
  return 0;
}

int FakeEngine::Scan(const char*) {
  ++scans_;
  for (const FakeReport& r : script_.reports) {
    std::this_thread::sleep_for(delay_);
    if (scanProgress_ == nullptr) continue;
    const int answer = scanProgress_(user_, r.step, scale_, r.secondsLeft, r.done, r.total, r.found, 0);
    if (answer != 0) return answer;
    std::lock_guard guard(mutex_);
    accepted_.push_back(r.step);
  }
  return script_.scanResult;
}

FoundFileRecord FakeEngine::Record(size_t index) const {
  FoundFileRecord record{};
  const FakeFile& file = script_.files.at(index);
  record.volumeLetter = tag_;
  record.engineKind = static_cast<uint32_t>(EngineKind::kFatQuick);
  record.isDeleted = file.deleted ? 1 : 0;
  record.contentOk = kContentOk;
  record.recordIndex = static_cast<uint32_t>(index + 1);
  record.entryId = static_cast<uint32_t>(index + 2);
  record.isDirectory = file.folder ? 1 : 0;
  record.fileSize = file.content.empty() ? file.size : file.content.size();
  record.SetName(file.name);
  return record;
}

int FakeEngine::ListChildren(const FoundFileRecord* folder, uint32_t, std::vector<FoundFileRecord>& out) {
  if (folder != nullptr) return 0;
  for (size_t i = 0; i < script_.files.size(); ++i) out.push_back(Record(i));
  return 0;
}

int FakeEngine::CountFiles(const FoundFileRecord* folder, uint32_t, uint32_t* count) {
  *count = folder == nullptr ? static_cast<uint32_t>(script_.files.size()) : 0;
  return 0;
}

int FakeEngine::GetFullPath(const FoundFileRecord&, std::string& path) {
  path.clear();
  return 0;
}

int FakeEngine::RecoverItem(const FoundFileRecord& record, const std::string& destination, int) {
  const size_t index = record.recordIndex - 1;
  if (record.recordIndex == 0 || index >= script_.files.size()) return err::kInvalidParameter;
  const FakeFile& file = script_.files[index];
  std::this_thread::sleep_for(delay_);
  int error = file.recoverError;
  if (error == 0) {
    std::error_code ec;
    fs::create_directories(fs::path(destination).parent_path(), ec);
    std::ofstream out(destination, std::ios::binary);
    const std::string content(file.size, 'q');
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) error = err::kWriteFault;
    else if (file.unreadable) error = err::kCrc;
  }
  if (fileProgress_ != nullptr) {
    if (int stop = fileProgress_(user_, 50, scale_, 0, destination.c_str()); stop != 0) return stop;
    if (int stop = fileProgress_(user_, 100, scale_, error, destination.c_str()); stop != 0) return stop;
  }
  return error == err::kCrc ? 0 : error;
}

namespace {

class FakeContent : public ContentReader, public FolderLister {
 public:
  FakeContent(const FakeScript& script, std::chrono::milliseconds delay) : script_(script), delay_(delay) {}

  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override {
    const size_t index = record.recordIndex - 1;
    if (record.recordIndex == 0 || index >= script_.files.size()) return err::kInvalidParameter;
    const FakeFile& file = script_.files[index];
    const std::string content = file.content.empty() ? std::string(file.size, 'q') : file.content;
    constexpr size_t kPiece = 64 * 1024;
    for (size_t at = 0; at < content.size(); at += kPiece) {
      std::this_thread::sleep_for(delay_);
      const size_t length = std::min(kPiece, content.size() - at);
      if (int stop = sink(reinterpret_cast<const uint8_t*>(content.data() + at), length); stop != 0) return stop;
    }
    return 0;
  }
  int ListFolder(const FoundFileRecord&, uint32_t, std::vector<FoundFileRecord>&) override { return 0; }
  int FolderDepth(const FoundFileRecord&, uint32_t& depth) override {
    depth = 1;
    return 0;
  }

 private:
  const FakeScript& script_;
  std::chrono::milliseconds delay_;
};

}  // namespace

int FakeEngine::ExtractForPreview(const FoundFileRecord& record, std::string& outPath, uint8_t* buffer,
                                  uint32_t* bufferSize, PreviewProgressFn progress, void* user) {
  ++previews_;
  FakeContent content(script_, delay_);
  FileExtractor extractor(content, content);
  return extractor.ExtractForPreview(record, outPath, buffer, bufferSize, progress, user);
}

int FakeEngine::SetListProgress(ListProgressFn callback, void* user) {
  listProgress_ = callback;
  listUser_ = user;
  return 0;
}

int FakeEngine::ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) {
  ++listings_;
  CategoryFilter category(filter, 0);
  for (size_t i = 0; i < script_.files.size(); ++i) {
    std::this_thread::sleep_for(delay_);
    if (listProgress_ != nullptr) {
      const int percent = static_cast<int>((i + 1) * 100 / script_.files.size());
      if (int stop = listProgress_(listUser_, percent, 0); stop != 0) return stop;
    }
    const FoundFileRecord record = Record(i);
    if (category.Accepts(record)) out.push_back(record);
  }
  return script_.listResult;
}

std::vector<int> FakeEngine::Accepted() {
  std::lock_guard guard(mutex_);
  return accepted_;
}

int FakeScanItem::Open(bool deep, std::string& message) {
  ++opens;
  openedDeep = deep;
  engine_.reset();
  if (openError != 0) {
    message = "cannot open the fake volume";
    return openError;
  }
  engine_ = std::make_unique<FakeEngine>(script_, key_, delay_);
  return 0;
}

int FakeScanItem::Scan(ScanProgressFn progress, void* user, std::string&) {
  if (!engine_) return err::kInvalidHandle;
  engine_->SetCallbacks(progress, nullptr, user, 100);
  const int rc = engine_->Scan(nullptr);
  engine_->SetCallbacks(nullptr, nullptr, nullptr, 100);
  return rc;
}

}  // namespace qm::testing
