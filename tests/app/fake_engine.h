// An engine that replays a recorded scan from a JSON fixture, so that the
// windows are tested without disks or root: the scan's progress reports
// (with a delay between them), the files found (listed, sorted and
// recovered, with the failures the fixture names), and the point where it
// stops on its own. Each call also records what the window answered.
#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "app/scan_item.h"
#include "engines/file_recovery_parse.h"

namespace qm::testing {

struct FakeReport {
  int step = 0;  // percent, with scale 100
  int64_t secondsLeft = -1;
  uint64_t done = 0;
  uint64_t total = 0;
  uint64_t found = 0;
};

struct FakeFile {
  std::string name;
  uint64_t size = 0;
  bool deleted = false;
  int recoverError = 0;     // RecoverItem reports the file failed with this
  bool unreadable = false;  // written whole, with zeros for unreadable parts
  std::string content;      // what a preview copies out; `size` bytes of 'q' when empty
  bool folder = false;
};

struct FakeScript {
  std::vector<FakeReport> reports;
  int scanResult = 0;
  std::vector<FakeFile> files;
  int listResult = 0;  // ListByCategory ends with this once it has listed the files
};

// Reads a fixture under tests/app/fixtures; fails the test when it cannot.
FakeScript LoadFakeScript(const std::string& fixtureName);

class FakeEngine : public IFileRecoveryParse {
 public:
  FakeEngine(FakeScript script, uint16_t tag, std::chrono::milliseconds delay)
      : script_(std::move(script)), tag_(tag), delay_(delay) {}

  int OpenImage(const std::string&, uint16_t) override { return 0; }
  int OpenDisk(int, uint64_t, uint64_t, uint16_t) override { return 0; }
  int SetCallbacks(ScanProgressFn scan, FileProgressFn file, void* user, int scale) override;
  int Scan(const char*) override;
  int ListChildren(const FoundFileRecord*, uint32_t, std::vector<FoundFileRecord>& out) override;
  int CountFiles(const FoundFileRecord*, uint32_t, uint32_t* count) override;
  uint64_t RecordCount() override { return script_.files.size(); }
  int GetFullPath(const FoundFileRecord&, std::string& path) override;
  int RecoverItem(const FoundFileRecord& record, const std::string& destination, int) override;
  int NextFreeExtent(uint64_t*, uint64_t*) override { return err::kNotSupported; }
  int SetListProgress(ListProgressFn callback, void* user) override;
  int ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) override;
  int BuildClusterBitmap() override { return 0; }
  // Through the real extractor, from the files' content in 64 KiB pieces,
  // one piece per delay.
  int ExtractForPreview(const FoundFileRecord& record, std::string& outPath, uint8_t* buffer, uint32_t* bufferSize,
                        PreviewProgressFn progress, void* user) override;
  int previews() const { return previews_; }

  FoundFileRecord Record(size_t index) const;
  // The steps the window let through, in order.
  std::vector<int> Accepted();
  int scans() const { return scans_; }
  int listings() const { return listings_; }

 private:
  FakeScript script_;
  uint16_t tag_;
  std::chrono::milliseconds delay_;
  ScanProgressFn scanProgress_ = nullptr;
  FileProgressFn fileProgress_ = nullptr;
  ListProgressFn listProgress_ = nullptr;
  void* user_ = nullptr;
  void* listUser_ = nullptr;
  int scale_ = 100;
  std::mutex mutex_;
  std::vector<int> accepted_;
  std::atomic<int> scans_ = 0;
  std::atomic<int> listings_ = 0;
  std::atomic<int> previews_ = 0;
};

// A scan item whose engine is a FakeEngine; `openError` makes Open fail.
class FakeScanItem : public ScanItem {
 public:
  FakeScanItem(uint16_t key, FakeScript script, std::chrono::milliseconds delay, QString imagePath = {})
      : key_(key), script_(std::move(script)), delay_(delay), imagePath_(std::move(imagePath)) {}

  uint16_t Key() const override { return key_; }
  QString ImagePath() const override { return imagePath_; }
  IFileRecoveryParse* Engine() const override { return engine_.get(); }
  FakeEngine* Fake() const { return engine_.get(); }
  int Open(bool deep, std::string& message) override;
  bool CanResume() const override { return resumable && !afresh; }
  void StartAfresh() override { afresh = true; }
  void SetWholeVolume(bool whole) override { wholeVolume = whole; }
  int Scan(ScanProgressFn progress, void* user, std::string& message) override;
  void Close() override { engine_.reset(); }

  int openError = 0;
  bool resumable = false;
  bool afresh = false;
  int opens = 0;
  bool openedDeep = false;   // what the last Open asked for
  bool wholeVolume = false;  // what the window asked for before the scan

 private:
  uint16_t key_;
  FakeScript script_;
  std::chrono::milliseconds delay_;
  QString imagePath_;
  std::unique_ptr<FakeEngine> engine_;
};

// A test's stack item handed to a window, which shares items: the test
// outlives the window, so nothing is freed.
inline ScanItemPtr Borrow(ScanItem& item) { return ScanItemPtr(&item, [](ScanItem*) {}); }

}  // namespace qm::testing
