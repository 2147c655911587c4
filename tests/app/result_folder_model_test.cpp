// The folder view of the results over an engine that holds a small tree:
// the view asks for a folder's contents only when it is expanded, gets
// folders before files, and receives a huge folder in batches.
#include <gtest/gtest.h>

#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <map>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "app/result_folder_model.h"
#include "app/result_selection.h"
#include "engines/file_recovery_parse.h"

namespace qm {
namespace {

// Listings keyed the way the engines key them: (depth, folder entryId).
class TreeEngine : public IFileRecoveryParse {
 public:
  std::map<std::pair<uint32_t, uint32_t>, std::vector<FoundFileRecord>> folders;
  std::vector<std::pair<uint32_t, uint32_t>> listed;  // keys asked for, in order
  std::chrono::milliseconds delay{0};                  // a slow volume
  std::vector<QThread*> threads;                       // the threads that listed

  int OpenImage(const std::string&, uint16_t) override { return 0; }
  int OpenDisk(int, uint64_t, uint64_t, uint16_t) override { return 0; }
  int SetCallbacks(ScanProgressFn, FileProgressFn, void*, int) override { return 0; }
  int Scan(const char*) override { return 0; }
  int ListChildren(const FoundFileRecord* folder, uint32_t depth,
                   std::vector<FoundFileRecord>& out) override {
    const std::pair<uint32_t, uint32_t> key{depth, folder ? folder->entryId : 0};
    std::this_thread::sleep_for(delay);
    listed.push_back(key);
    threads.push_back(QThread::currentThread());
    const auto it = folders.find(key);
    if (it == folders.end()) return err::kPathNotFound;
    out = it->second;
    return 0;
  }
  int CountFiles(const FoundFileRecord* folder, uint32_t depth, uint32_t* count) override {
    *count = 0;
    const auto it = folders.find({depth, folder ? folder->entryId : 0});
    if (it == folders.end()) return 0;
    for (const auto& r : it->second) {
      if (r.isDirectory != 0) {
        uint32_t inner = 0;
        CountFiles(&r, depth + 1, &inner);
        *count += inner;
      } else {
        ++*count;
      }
    }
    return 0;
  }
  uint64_t RecordCount() override { return 0; }
  int GetFullPath(const FoundFileRecord&, std::string& path) override {
    path.clear();
    return 0;
  }
  int RecoverItem(const FoundFileRecord&, const std::string&, int) override { return err::kNotSupported; }
  int NextFreeExtent(uint64_t*, uint64_t*) override { return err::kNotSupported; }
  int SetListProgress(ListProgressFn, void*) override { return 0; }
  int ListByCategory(const std::string&, std::vector<FoundFileRecord>&) override { return 0; }
  int BuildClusterBitmap() override { return 0; }
  int ExtractForPreview(const FoundFileRecord&, std::string&, uint8_t*, uint32_t*, PreviewProgressFn,
                        void*) override {
    return err::kNotSupported;
  }
};

FoundFileRecord Entry(const std::string& name, uint32_t entryId, bool folder, uint64_t size = 0) {
  FoundFileRecord record{};
  record.volumeLetter = 'E';
  record.isDirectory = folder ? 1 : 0;
  record.contentOk = kContentOk;
  record.entryId = entryId;
  record.fileSize = size;
  record.SetName(name);
  return record;
}

// Asks for a folder's contents and waits for the worker's listing.
void Fetch(ResultFolderModel& model, const QModelIndex& parent) {
  model.fetchMore(parent);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !model.Listing(); }, 5000));
}

std::vector<std::string> Names(const ResultFolderModel& model, const QModelIndex& parent) {
  std::vector<std::string> names;
  for (int row = 0; row < model.rowCount(parent); ++row) {
    names.push_back(model.data(model.index(row, 0, parent), Qt::DisplayRole).toString().toStdString());
  }
  return names;
}

TEST(ResultFolderModel, ListsEachFolderOnExpandFoldersFirst) {
  TreeEngine engine;
  // The engine lists files first, then folders.
  engine.folders[{0, 0}] = {Entry("a.txt", 30, false, 10), Entry("DCIM", 5, true),
                            Entry("Music", 9, true)};
  engine.folders[{1, 5}] = {Entry("x.jpg", 40, false, 2048), Entry("100CANON", 6, true)};
  engine.folders[{2, 6}] = {Entry("y.jpg", 41, false), Entry("z.jpg", 42, false)};
  engine.folders[{1, 9}] = {};
  ResultFolderModel model(engine);

  EXPECT_TRUE(engine.listed.empty()) << "nothing is read before the view asks";
  ASSERT_TRUE(model.canFetchMore({}));
  Fetch(model, {});
  EXPECT_EQ(Names(model, {}), (std::vector<std::string>{"DCIM", "Music", "a.txt"}));
  EXPECT_FALSE(model.canFetchMore({}));

  const QModelIndex dcim = model.index(0, 0);
  EXPECT_TRUE(model.hasChildren(dcim));
  Fetch(model, dcim);
  EXPECT_EQ(Names(model, dcim), (std::vector<std::string>{"100CANON", "x.jpg"}));
  EXPECT_EQ(model.parent(model.index(1, 0, dcim)), dcim);
  EXPECT_EQ(model.data(model.index(1, ResultFolderModel::kSize, dcim), Qt::DisplayRole).toString(),
            "2.00 KB");
  EXPECT_EQ(model.data(model.index(0, ResultFolderModel::kSize), Qt::DisplayRole).toInt(), 3)
      << "files in the folder's whole subtree";

  const QModelIndex canon = model.index(0, 0, dcim);
  Fetch(model, canon);
  EXPECT_EQ(Names(model, canon), (std::vector<std::string>{"y.jpg", "z.jpg"}));
  EXPECT_EQ(uint32_t{model.RecordAt(model.index(1, 0, canon))->entryId}, 42u);

  // An empty folder shows no expander once read; a file never has one.
  const QModelIndex music = model.index(1, 0);
  Fetch(model, music);
  EXPECT_FALSE(model.hasChildren(music));
  EXPECT_FALSE(model.hasChildren(model.index(2, 0)));
  EXPECT_FALSE(model.canFetchMore(model.index(2, 0)));

  const std::vector<std::pair<uint32_t, uint32_t>> keys = {{0, 0}, {1, 5}, {2, 6}, {1, 9}};
  EXPECT_EQ(engine.listed, keys) << "each folder is read once, with its depth";
  EXPECT_EQ(model.LastError(), 0);
}

TEST(ResultFolderModel, HugeFolderArrivesInBatchesAndAFailedListingIsKept) {
  TreeEngine engine;
  auto& root = engine.folders[{0, 0}];
  const int total = 2 * ResultFolderModel::kBatchSize + 500;
  for (int i = 0; i < total; ++i) root.push_back(Entry("f" + std::to_string(i), 100 + i, false));
  root.push_back(Entry("Gone", 7, true));  // its listing fails
  ResultFolderModel model(engine);

  std::vector<int> rowsAfterFetch;
  Fetch(model, {});
  rowsAfterFetch.push_back(model.rowCount());
  while (model.canFetchMore({})) {
    model.fetchMore({});
    rowsAfterFetch.push_back(model.rowCount());
  }
  const int all = total + 1;
  EXPECT_EQ(rowsAfterFetch, (std::vector<int>{ResultFolderModel::kBatchSize,
                                               2 * ResultFolderModel::kBatchSize, all}));
  EXPECT_EQ(Names(model, {}).front(), "Gone");
  EXPECT_EQ(Names(model, {}).back(), "f" + std::to_string(total - 1));
  EXPECT_EQ(engine.listed.size(), 1u);

  const QModelIndex gone = model.index(0, 0);
  Fetch(model, gone);
  EXPECT_EQ(model.rowCount(gone), 0);
  EXPECT_EQ(model.LastError(), err::kPathNotFound);
  EXPECT_FALSE(model.canFetchMore(gone));
}

// A volume that answers slowly: the folder is read on a worker while the
// window's event loop goes on (its timers fire), and the rows come in once
// read. Destroying the model waits for a listing still running.
TEST(ResultFolderModel, ASlowFolderIsReadOffTheWindowThread) {
  TreeEngine engine;
  engine.delay = std::chrono::milliseconds(600);
  engine.folders[{0, 0}] = {Entry("a.txt", 30, false, 10), Entry("DCIM", 5, true)};
  engine.folders[{1, 5}] = {Entry("x.jpg", 40, false)};
  auto model = std::make_unique<ResultFolderModel>(engine);
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(10);
  model->fetchMore({});
  EXPECT_TRUE(engine.listed.empty()) << "fetchMore waited for the volume";
  EXPECT_FALSE(model->canFetchMore({})) << "one listing per folder";
  EXPECT_EQ(model->rowCount(), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !model->Listing(); }, 5000));
  EXPECT_GE(ticks, 5) << "the event loop stood still while the folder was read";
  EXPECT_EQ(Names(*model, {}), (std::vector<std::string>{"DCIM", "a.txt"}));
  EXPECT_EQ(model->data(model->index(0, ResultFolderModel::kSize), Qt::DisplayRole).toInt(), 1);
  ASSERT_EQ(engine.threads.size(), 1u);
  EXPECT_NE(engine.threads[0], QThread::currentThread());

  model->fetchMore(model->index(0, 0));
  model.reset();  // waits for the listing under way rather than leaving it to a closed engine
  EXPECT_EQ(engine.listed.size(), 2u);
}

// Choosing by folder: only the files the results list count and are
// offered (a file the type filter left out is not), folders leave the
// files to the file list, a folder with nothing listed under it is left
// out, and a folder's box ticks its whole subtree and shows partial when
// part of it is ticked.
TEST(ResultFolderModel, ChoosingOffersOnlyTheListedFilesOfEachSubtree) {
  TreeEngine engine;
  const auto file = [](const std::string& name, uint32_t id) {
    FoundFileRecord record = Entry(name, id, false, 100);
    record.recordIndex = id;
    return record;
  };
  engine.folders[{0, 0}] = {file("root.jpg", 30), file("skipped.tmp", 31), Entry("DCIM", 5, true),
                            Entry("Empty", 8, true), Entry("Cache", 9, true)};
  engine.folders[{1, 5}] = {file("a.jpg", 40), Entry("100CANON", 6, true)};
  engine.folders[{2, 6}] = {file("b.jpg", 41), file("c.jpg", 42), file("d.tmp", 43)};
  engine.folders[{1, 8}] = {};
  engine.folders[{1, 9}] = {file("e.tmp", 44)};
  auto shown = std::make_shared<ResultFolderModel::KeySet>();
  for (const auto& [key, items] : engine.folders) {
    for (const FoundFileRecord& item : items) {
      if (item.Name().ends_with(".jpg")) shown->insert(ResultSelection::KeyOf(item));
    }
  }
  ResultSelection selection;
  ResultFolderModel model(engine);
  model.ChooseFrom(shown, selection, "card.img");

  Fetch(model, {});
  ASSERT_EQ(Names(model, {}), (std::vector<std::string>{"card.img"}));
  const QModelIndex volume = model.index(0, 0);
  Fetch(model, volume);
  ASSERT_EQ(Names(model, volume), (std::vector<std::string>{"DCIM"}));
  const QModelIndex dcim = model.index(0, 0, volume);
  Fetch(model, dcim);
  const QModelIndex canon = model.index(0, 0, dcim);
  ASSERT_EQ(Names(model, dcim), (std::vector<std::string>{"100CANON"}));

  const struct {
    QModelIndex folder;
    std::vector<std::string> files;
  } cases[] = {{volume, {"a.jpg", "b.jpg", "c.jpg", "root.jpg"}}, {dcim, {"a.jpg", "b.jpg", "c.jpg"}},
               {canon, {"b.jpg", "c.jpg"}}};
  for (const auto& c : cases) {
    std::vector<std::string> names;
    for (const FoundFileRecord& record : *model.FilesAt(c.folder)) names.push_back(record.Name());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.files) << c.folder.data().toString().toStdString();
    EXPECT_EQ(model.data(c.folder.siblingAtColumn(ResultFolderModel::kSize), Qt::DisplayRole).toInt(),
              static_cast<int>(c.files.size()));
  }

  const auto state = [&](const QModelIndex& index) {
    return model.data(index, Qt::CheckStateRole).value<Qt::CheckState>();
  };
  EXPECT_TRUE(model.flags(canon) & Qt::ItemIsUserCheckable);
  ASSERT_TRUE(model.setData(canon, Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(selection.Count(), 2u);
  EXPECT_EQ(state(canon), Qt::Checked);
  EXPECT_EQ(state(dcim), Qt::PartiallyChecked);
  EXPECT_EQ(state(volume), Qt::PartiallyChecked);
  // A partly ticked folder is ticked whole by its box, cleared by it again.
  ASSERT_TRUE(model.setData(dcim, Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(selection.Count(), 3u);
  EXPECT_EQ(state(dcim), Qt::Checked);
  ASSERT_TRUE(model.setData(volume, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_TRUE(selection.Empty());
  EXPECT_EQ(state(canon), Qt::Unchecked);
  // A change made elsewhere shows once the model is told.
  selection.Add(*engine.folders[{0, 0}].begin());
  model.RefreshChecks();
  EXPECT_EQ(state(volume), Qt::PartiallyChecked);
  EXPECT_EQ(state(dcim), Qt::Unchecked);
}

}  // namespace
}  // namespace qm
