// The private folder every fuzz target works in.
//
// A target that scans a mutated image writes the input to an image file,
// and the engines write their scan logs under QUILLMARK_DATA_DIR. Both live
// in one temporary folder made at the first input and removed at exit, and
// whatever an input wrote is removed before the next input runs, so that a
// run of millions of inputs neither grows the disk nor lets one input see
// what an earlier one left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qm::fuzz {

class FuzzWorkspace {
 public:
  // The one workspace of the process (made on first use).
  static FuzzWorkspace& Get();

  const std::filesystem::path& root() const { return root_; }
  // QUILLMARK_DATA_DIR: the ScanLog folder of this process.
  std::filesystem::path ScanLogFolder() const { return root_ / "ScanLog"; }
  // An empty folder for the current input's scan log.
  std::filesystem::path FreshScanFolder();
  // Writes the bytes as the image file (replacing the last one) and returns
  // its path. `minBytes` pads the image with zeros, so that a mutated image
  // cut short still has the size its boot sector was made for.
  std::string WriteImage(const uint8_t* data, size_t size, size_t minBytes = 0);
  // Writes a file with the given bytes under the workspace.
  std::filesystem::path WriteFile(const std::string& name, const uint8_t* data, size_t size);
  // Removes everything the current input wrote.
  void Clear();

 private:
  FuzzWorkspace();
  ~FuzzWorkspace();
  std::filesystem::path root_;
};

// Runs Clear() when an input is done, whichever way the target returns.
struct ClearAfterInput {
  ~ClearAfterInput() { FuzzWorkspace::Get().Clear(); }
};

}  // namespace qm::fuzz
