#include "fuzz_workspace.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace qm::fuzz {

namespace fs = std::filesystem;

FuzzWorkspace& FuzzWorkspace::Get() {
  static FuzzWorkspace workspace;
  return workspace;
}

FuzzWorkspace::FuzzWorkspace() {
  std::string pattern = (fs::temp_directory_path() / "quillmark-fuzz-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) {
    std::perror("quillmark fuzz: cannot make a temporary folder");
    std::abort();
  }
  root_ = name.data();
  fs::create_directories(ScanLogFolder());
  ::setenv("QUILLMARK_DATA_DIR", ScanLogFolder().c_str(), 1);
}

FuzzWorkspace::~FuzzWorkspace() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

fs::path FuzzWorkspace::FreshScanFolder() {
  const fs::path folder = root_ / "scan";
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder, ec);
  return folder;
}

fs::path FuzzWorkspace::WriteFile(const std::string& name, const uint8_t* data, size_t size) {
  const fs::path path = root_ / name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::perror("quillmark fuzz: cannot write into the temporary folder");
    std::abort();
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      std::perror("quillmark fuzz: cannot write into the temporary folder");
      std::abort();
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return path;
}

std::string FuzzWorkspace::WriteImage(const uint8_t* data, size_t size, size_t minBytes) {
  const fs::path path = WriteFile("image.img", data, size);
  // A sparse tail: the zeros cost nothing on disk.
  if (size < minBytes && ::truncate(path.c_str(), static_cast<off_t>(minBytes)) != 0) {
    std::perror("quillmark fuzz: cannot extend the image");
    std::abort();
  }
  return path.string();
}

void FuzzWorkspace::Clear() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root_, ec)) {
    fs::remove_all(entry.path(), ec);
  }
  fs::create_directories(ScanLogFolder(), ec);
}

}  // namespace qm::fuzz
