// A machine with one fixed disk of one FAT volume, and a disk image the
// "Load image" question picks; the volume and the image scan as the fake
// card does.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

#include "app/main_wnd.h"
#include "fake_engine.h"
#include "support/test_support.h"

namespace qm::testing {

struct OneVolumeDesk {
  qm::test::TempDir folder;
  DiskSnapshot disks;
  std::filesystem::path image = folder / "card.img";

  OneVolumeDesk() {
    qm::test::WriteBytes(image, qm::test::MakeContent(4096, 1));
    VolumeRecord v;
    v.diskNumber = 0;
    v.letter = 1;
    v.devicePath = "/dev/sda1";
    v.startSector = 2048;
    v.sectorCount = 2048;
    v.totalBytes = 2048 * 512;
    v.fileSystemName = "FAT32";
    v.label = "CARD";
    disks.disks[0] = DiskRecord{0, "/dev/sda", "Fixed", 512, 1 << 20, false, false, {}, 0};
    disks.volumes = {v};
  }

  MainWndServices Services() {
    using namespace std::chrono_literals;
    MainWndServices services;
    services.enumerate = [this] { return disks; };
    services.watchDevices = false;
    services.volumeItems = [](const VolumeRecord& v) -> ScanItemPtr {
      return std::make_shared<FakeScanItem>(v.letter, LoadFakeScript("card_scan.json"), 0ms);
    };
    services.imageItems = [](uint16_t tag, const QString& path) -> ScanItemPtr {
      return std::make_shared<FakeScanItem>(tag, LoadFakeScript("card_scan.json"), 0ms, path);
    };
    services.chooseImageToLoad = [this](QWidget*) { return QString::fromStdString(image.string()); };
    return services;
  }

  // The window, with the disks listed.
  std::unique_ptr<CMainWnd> MakeWindow() {
    QString error;
    auto window = CMainWnd::Create(&error, Services());
    EXPECT_TRUE(window) << error.toStdString();
    if (window) window->Disks()->WaitForRefresh();
    return window;
  }
};

}  // namespace qm::testing
