#include "app/create_image_process_wnd.h"

#include <QLabel>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

#include "platform/errors.h"
#include "support/test_support.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

fs::path MakeSource(const fs::path& folder, size_t bytes) {
  const fs::path path = folder / "card.raw";
  std::mt19937 random(7);
  std::string content(bytes, '\0');
  for (char& c : content) c = static_cast<char>(random());
  std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  return path;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CreateImageProcessWnd, CopiesTheRangeAndClosesWithItsResult) {
  qm::test::TempDir folder;
  const fs::path source = MakeSource(folder.path(), 3 << 20);
  const struct {
    const char* name;
    fs::path image;
    uint64_t start, count;
    int result;
  } cases[] = {
      {"whole source", folder.path() / "whole.img", 0, 0, CProcessWnd::kFinished},
      {"a partition's range", folder.path() / "part.img", 2048, 2048, CProcessWnd::kFinished},
      {"into a missing folder", folder.path() / "no such folder" / "x.img", 0, 0, CProcessWnd::kFailed},
      {"past the end of the source", folder.path() / "past.img", 6000, 1000, CProcessWnd::kFailed},
  };
  for (const auto& c : cases) {
    ImageCopySource what;
    what.sourcePath = source.string();
    what.startSector = c.start;
    what.sectorCount = c.count;
    QString error;
    auto window = CCreateImageProcessWnd::Create(what, QString::fromStdString(c.image.string()), nullptr, &error);
    ASSERT_TRUE(window) << error.toStdString();
    EXPECT_EQ(window->exec(), c.result) << c.name;
    if (c.result != CProcessWnd::kFinished) {
      EXPECT_NE(window->CopyResult(), 0) << c.name;
      continue;
    }
    const std::string whole = Read(source);
    const std::string expected = c.count == 0 ? whole : whole.substr(c.start * 512, c.count * 512);
    EXPECT_TRUE(Read(c.image) == expected) << c.name;
    const QString sectors = FindControlAs<QLabel>(window->Content(), "sectors")->text();
    const uint64_t total = c.count == 0 ? (3 << 20) / 512 : c.count;
    EXPECT_EQ(sectors, QString("Sectors: %1 / %1").arg(total)) << c.name;
    EXPECT_EQ(FindControlAs<QLabel>(window->Content(), "percent")->text(), "Copied: 100%");
  }
}

TEST(CreateImageProcessWnd, CancellingClosesWithCancelled) {
  qm::test::TempDir folder;
  // Large enough that the copy is still running when the question opens.
  const fs::path source = folder.path() / "big.raw";
  std::ofstream(source).close();
  fs::resize_file(source, 256u << 20);
  ImageCopySource what;
  what.sourcePath = source.string();
  auto window = CCreateImageProcessWnd::Create(what, QString::fromStdString((folder.path() / "x.img").string()), nullptr);
  ASSERT_TRUE(window);
  // Asked before the first report: the worker waits at it, then stops.
  When(window.get(), [] { return true; },
       [&] {
         AnswerNextBox(true);
         Click(window->Content(), "cancelbtn");
       });
  EXPECT_EQ(window->exec(), CProcessWnd::kCancelled);
  EXPECT_EQ(window->CopyResult(), err::kCancelled);
}

}  // namespace
}  // namespace qm::testing
