// faulty-file-fs [--open-for-writing] IMAGE MOUNTPOINT [FIRST:COUNT ...]
//
// A FUSE file system holding one file, MOUNTPOINT/disk.img, with the bytes
// of IMAGE, except that a read touching one of the given 512-byte sector
// ranges fails with EIO, as a disk with bad sectors does. Reads bypass the
// page cache (direct_io), so each read the program makes reaches here with
// its own offset and length. Runs in the foreground until unmounted.
//
// --open-for-writing lets the file be opened for reading and writing (every
// write still fails), for programs that open their own files that way, such
// as a scan log standing in for one on a failing disk.
#define FUSE_USE_VERSION 31
#include <fuse3/fuse.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Range {
  unsigned long long first;
  unsigned long long count;
};

int g_image = -1;
off_t g_size = 0;
std::vector<Range> g_bad;
bool g_openForWriting = false;
constexpr const char* kName = "/disk.img";

bool TouchesBad(off_t offset, size_t length) {
  const unsigned long long first = static_cast<unsigned long long>(offset) / 512;
  const unsigned long long last = (static_cast<unsigned long long>(offset) + length - 1) / 512;
  for (const Range& r : g_bad)
    if (r.first <= last && first < r.first + r.count) return true;
  return false;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path, kName) != 0) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = g_size;
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, kName + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if (std::strcmp(path, kName) != 0) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY && !g_openForWriting) return -EACCES;
  fi->direct_io = 1;
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  if (offset >= g_size || size == 0) return 0;
  if (static_cast<off_t>(size) > g_size - offset) size = static_cast<size_t>(g_size - offset);
  if (TouchesBad(offset, size)) return -EIO;
  const ssize_t n = ::pread(g_image, buffer, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Write(const char*, const char*, size_t, off_t, fuse_file_info*) { return -EROFS; }
int Truncate(const char*, off_t, fuse_file_info*) { return -EROFS; }

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argv[0];
  if (argc > 1 && std::strcmp(argv[1], "--open-for-writing") == 0) {
    g_openForWriting = true;
    ++argv;
    --argc;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s [--open-for-writing] IMAGE MOUNTPOINT [FIRST:COUNT ...]\n",
                 program.c_str());
    return 2;
  }
  g_image = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (g_image < 0) {
    std::perror(argv[1]);
    return 1;
  }
  g_size = ::lseek(g_image, 0, SEEK_END);
  for (int i = 3; i < argc; ++i) {
    Range r{};
    if (std::sscanf(argv[i], "%llu:%llu", &r.first, &r.count) != 2) {
      std::fprintf(stderr, "bad range %s\n", argv[i]);
      return 2;
    }
    g_bad.push_back(r);
  }
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.truncate = Truncate;
  std::string name = program;
  std::vector<char*> args = {name.data(), const_cast<char*>("-f"), const_cast<char*>("-s")};
  if (!g_openForWriting) {
    args.push_back(const_cast<char*>("-o"));
    args.push_back(const_cast<char*>("ro"));
  }
  args.push_back(argv[2]);
  return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
