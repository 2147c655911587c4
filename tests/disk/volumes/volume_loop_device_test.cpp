// The enumerator and the device watch on a real loop device: an image
// partitioned by sfdisk with a FAT32 and an NTFS partition, the NTFS one
// mounted through ntfs-3g, then detached.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "disk/volumes/volume_enumerator.h"
#include "disk/watch/device_watch.h"
#include "platform/disk_table.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::Quote;

const std::string kSbin = "PATH=\"$PATH:/sbin:/usr/sbin\" ";

bool Sh(const std::string& command, std::string* out = nullptr) {
  std::string text;
  const int rc = test::Run(kSbin + command, &text);
  if (out) *out = text;
  if (rc != 0) ADD_FAILURE() << command << " failed (" << rc << "): " << text;
  return rc == 0;
}

// Attaches an image and makes its partitions appear (through partx when the
// kernel does not read partition tables itself); detaches on destruction.
class LoopDevice {
 public:
  explicit LoopDevice(const fs::path& image) {
    std::string out;
    if (!Sh("losetup -fP --show " + Quote(image.string()), &out)) return;
    device_ = out.substr(0, out.find('\n'));
    if (!fs::exists(device_ + "p1")) test::Run(kSbin + "partx -a " + Quote(device_));
  }
  ~LoopDevice() { Detach(); }
  bool Detach() {
    if (device_.empty()) return true;
    const bool ok = Sh("losetup -d " + Quote(device_));
    if (ok) device_.clear();
    return ok;
  }
  const std::string& device() const { return device_; }
  std::string name() const { return fs::path(device_).filename().string(); }

 private:
  std::string device_;
};

class NtfsMount {
 public:
  NtfsMount(const std::string& device, const fs::path& at) : at_(at) {
    fs::create_directories(at);
    mounted_ = Sh("ntfs-3g " + Quote(device) + " " + Quote(at.string()));
  }
  ~NtfsMount() { Unmount(); }
  bool Unmount() {
    if (mounted_ && Sh("umount " + Quote(at_.string()))) mounted_ = false;
    return !mounted_;
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path at_;
  bool mounted_ = false;
};

TEST(VolumeLoopDeviceTest, ListsBothVolumesAndReportsTheDetachAsARemoval) {
  QM_SKIP_IF_MISSING(test::MissingLoopDevices());
  ASSERT_TRUE(test::HaveTool("sfdisk") && test::HaveTool("mkfs.fat") && test::HaveTool("mkntfs"));
  ASSERT_TRUE(test::CanMountFuse()) << "ntfs-3g needs /dev/fuse";
  test::TempDir dir;
  const fs::path image = dir / "disk.img";
  std::ofstream(image).close();
  fs::resize_file(image, 160ull << 20);
  const uint64_t fatStart = 2048, fatSectors = 80000;
  const uint64_t ntfsStart = 90112, ntfsSectors = 200000;
  ASSERT_TRUE(Sh("printf 'label: dos\\nstart=" + std::to_string(fatStart) + ", size=" +
                 std::to_string(fatSectors) + ", type=c\\nstart=" + std::to_string(ntfsStart) +
                 ", size=" + std::to_string(ntfsSectors) + ", type=7\\n' | sfdisk -q " +
                 Quote(image.string())));
  ASSERT_TRUE(Sh("mkfs.fat -F 32 -n QMFAT --offset " + std::to_string(fatStart) + " " +
                 Quote(image.string()) + " " + std::to_string(fatSectors / 2)));

  LoopDevice loop(image);
  ASSERT_FALSE(loop.device().empty());
  ASSERT_TRUE(fs::exists(loop.device() + "p2")) << "no partition devices for " << loop.device();
  ASSERT_TRUE(Sh("mkntfs -q -F -f -L QMNTFS " + Quote(loop.device() + "p2")));
  const fs::path mnt = dir / "ntfs";
  NtfsMount mount(loop.device() + "p2", mnt);
  ASSERT_TRUE(mount.mounted());
  { std::ofstream(mnt / "file.bin") << test::MakeContent(3 << 20, 1); }
  ::sync();

  DiskTable table({loop.device()});
  VolumeEnumerator enumerator(table);
  ASSERT_EQ(enumerator.EnumerateVolumes(), 1);
  std::vector<VolumeRecord> before;
  enumerator.GetAllVolumes(before);
  std::erase_if(before, [](const VolumeRecord& r) { return r.kind != VolumeRecord::Kind::kVolume; });
  ASSERT_EQ(before.size(), 2u);

  const VolumeRecord& fat = before[0];
  EXPECT_EQ(fat.devicePath, loop.device() + "p1");
  EXPECT_EQ(fat.partitionNumber, 1);
  EXPECT_EQ(fat.startSector, fatStart);
  EXPECT_EQ(fat.sectorCount, fatSectors);
  EXPECT_EQ(fat.fileSystemName, "FAT32");
  EXPECT_EQ(fat.typeCode, 11);
  EXPECT_EQ(fat.label, "QMFAT");
  EXPECT_EQ(fat.mountPoint, "");
  EXPECT_EQ(fat.totalBytes, fatSectors * 512);
  EXPECT_EQ(fat.freeBytes, 0u);

  const VolumeRecord& ntfs = before[1];
  EXPECT_EQ(ntfs.devicePath, loop.device() + "p2");
  EXPECT_EQ(ntfs.startSector, ntfsStart);
  EXPECT_EQ(ntfs.sectorCount, ntfsSectors);
  EXPECT_EQ(ntfs.fileSystemName, "NTFS");
  EXPECT_EQ(ntfs.typeCode, 7);
  EXPECT_EQ(ntfs.label, "QMNTFS");
  EXPECT_EQ(ntfs.mountPoint, mnt.string());
  struct statvfs st {};
  ASSERT_EQ(::statvfs(mnt.c_str(), &st), 0);
  EXPECT_EQ(ntfs.totalBytes, uint64_t{st.f_blocks} * st.f_frsize);
  EXPECT_EQ(ntfs.freeBytes, uint64_t{st.f_bfree} * st.f_frsize);
  EXPECT_GT(ntfs.usedBytes, 3u << 20);
  EXPECT_EQ(ntfs.usedBytes + ntfs.freeBytes, ntfs.totalBytes);

  ASSERT_TRUE(mount.Unmount());
  DeviceWatch watch;
  ASSERT_EQ(watch.Start(), 0);
  const std::string loopName = loop.name();
  const auto detachedAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(loop.Detach());

  // Other work on this machine may attach loop devices too: wait for the
  // refresh whose burst holds our removal.
  bool sawOurRemoval = false;
  std::optional<std::chrono::steady_clock::time_point> firstEvent;
  std::optional<DeviceRefresh> refresh;
  const auto giveUp = detachedAt + std::chrono::seconds(20);
  while (!(refresh && sawOurRemoval) && std::chrono::steady_clock::now() < giveUp) {
    pollfd p{watch.fd(), POLLIN, 0};
    ::poll(&p, 1, 500);
    std::vector<DiskEvent> events;
    refresh = watch.Process(&events);
    if (!events.empty() && !firstEvent) firstEvent = std::chrono::steady_clock::now();
    for (const auto& e : events)
      if (e.kind == DeviceChange::kRemoval && e.name.rfind(loopName, 0) == 0) sawOurRemoval = true;
    if (refresh && !sawOurRemoval) firstEvent.reset();
  }
  ASSERT_TRUE(sawOurRemoval);
  ASSERT_TRUE(refresh.has_value());
  EXPECT_TRUE(refresh->removal);
  ASSERT_TRUE(firstEvent.has_value());
  EXPECT_GE(std::chrono::steady_clock::now() - *firstEvent, std::chrono::milliseconds(4900));

  std::vector<VolumeRecord> removed;
  EXPECT_EQ(enumerator.FindRemovedVolumes(before, removed), 1);
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(removed[0].startSector, fatStart);
  EXPECT_EQ(removed[1].startSector, ntfsStart);
}

}  // namespace
}  // namespace qm
