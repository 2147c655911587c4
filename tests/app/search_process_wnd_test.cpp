#include "app/search_process_wnd.h"

#include <QLabel>
#include <gtest/gtest.h>
#include <set>

#include "fake_engine.h"
#include "results/categories.h"
#include "window_driver.h"

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

struct Sorting {
  std::vector<FoundFileRecord> results;
  int finishedSignals = 0;
  int result = 0;
};

Sorting Sort(ScanItems items, const std::string& filter, std::function<void(CSearchProcessWnd&)> drive = {}) {
  Sorting out;
  QString error;
  auto window = CSearchProcessWnd::Create(std::move(items), filter, &out.results, nullptr, &error);
  EXPECT_TRUE(window) << error.toStdString();
  if (!window) return out;
  QObject::connect(window.get(), &CSearchProcessWnd::SortingFinished, window.get(),
                   [&out] { ++out.finishedSignals; });
  if (drive) drive(*window);
  out.result = window->exec();
  QCoreApplication::processEvents();
  return out;
}

std::multiset<std::pair<uint16_t, std::string>> Names(const std::vector<FoundFileRecord>& records) {
  std::multiset<std::pair<uint16_t, std::string>> names;
  for (const FoundFileRecord& r : records) names.insert({r.volumeLetter, r.Name()});
  return names;
}

// A scan log that fails a read part-way: what was read is still sorted and
// shown, and the window closes as failed, saying which listing is not whole.
TEST(SearchProcessWnd, AListingThatFailsToReadClosesAsFailedAndSaysSo) {
  FakeScript broken = LoadFakeScript("card_scan.json");
  broken.listResult = err::kCrc;
  FakeScanItem e('E', broken, 1ms, "/tmp/card.img");
  FakeScanItem f('F', LoadFakeScript("card_scan.json"), 1ms);
  std::string message;
  e.Open(false, message);
  f.Open(false, message);
  QString failure;
  Sorting sorted = Sort({Borrow(e), Borrow(f)}, BuildCategoryFilter({"jpg"}), [&](CSearchProcessWnd& window) {
    QObject::connect(&window, &QDialog::finished, &window, [&] { failure = window.FailureText(); });
  });
  EXPECT_EQ(sorted.result, CProcessWnd::kFailed);
  EXPECT_EQ(sorted.finishedSignals, 1);
  EXPECT_EQ(Names(sorted.results).size(), 4u);
  EXPECT_TRUE(failure.contains("is incomplete")) << failure.toStdString();
  EXPECT_TRUE(failure.contains("Input/output error")) << failure.toStdString();
}

TEST(SearchProcessWnd, ListsEachScannedItemsFilesThatMatchTheFilter) {
  FakeScanItem e('E', LoadFakeScript("card_scan.json"), 1ms);
  FakeScanItem image(1001, LoadFakeScript("card_scan.json"), 1ms, "/tmp/card.img");
  FakeScanItem neverScanned(7, LoadFakeScript("card_scan.json"), 1ms);
  std::string message;
  e.Open(false, message);
  image.Open(false, message);

  const Sorting jpegs = Sort({Borrow(e), Borrow(neverScanned), Borrow(image)}, BuildCategoryFilter({"jpg"}));
  EXPECT_EQ(jpegs.result, CProcessWnd::kFinished);
  EXPECT_EQ(jpegs.finishedSignals, 1);
  const std::multiset<std::pair<uint16_t, std::string>> expected = {
      {'E', "IMG_0001.JPG"}, {'E', "Holiday in Kraków.jpg"}, {1001, "IMG_0001.JPG"}, {1001, "Holiday in Kraków.jpg"}};
  EXPECT_EQ(Names(jpegs.results), expected);

  const Sorting all = Sort({Borrow(e)}, BuildCategoryFilter({}));
  const auto names = Names(all.results);
  EXPECT_TRUE(names.count({'E', "Договор.docx"}));
  EXPECT_TRUE(names.count({'E', "voice memo.mp3"}));
}

TEST(SearchProcessWnd, AnEmptyListClosesAtOnceWithoutSignalling) {
  const Sorting none = Sort({}, BuildCategoryFilter({}));
  EXPECT_EQ(none.result, CProcessWnd::kFinished);
  EXPECT_EQ(none.finishedSignals, 0);
}

TEST(SearchProcessWnd, CancellingClosesWithCancelledAndStillSignals) {
  FakeScanItem e('E', LoadFakeScript("card_scan.json"), 40ms);
  FakeScanItem f('F', LoadFakeScript("card_scan.json"), 40ms);
  std::string message;
  e.Open(false, message);
  f.Open(false, message);
  QString question;
  const Sorting cancelled = Sort({Borrow(e), Borrow(f)}, BuildCategoryFilter({}), [&](CSearchProcessWnd& window) {
    When(&window, [&] { return e.Fake()->listings() >= 1; },
         [&] {
           AnswerNextBox(true, {}, &question);
           Click(window.Content(), "cancelbtn");
         });
  });
  EXPECT_EQ(cancelled.result, CProcessWnd::kCancelled);
  EXPECT_EQ(cancelled.finishedSignals, 1);
  EXPECT_EQ(question, LanguageStore::Instance().Text("Messages", "MSG1205"));
  EXPECT_EQ(f.Fake()->listings(), 0);
}

}  // namespace
}  // namespace qm::testing
