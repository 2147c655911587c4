// Copies found files out of a scanned volume: one file, or a folder with
// everything under it, into a destination folder; or one file into a
// temporary preview copy or a memory buffer.
//
// The extractor is engine-agnostic: where the bytes lie is the engine's
// ContentReader's business, the folder tree comes from its FolderLister.
// It writes only below the destination it is given, and only through names
// made safe with SafeFileName.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <vector>

#include "engines/extraction/content_reader.h"
#include "engines/extraction/destination_names.h"
#include "engines/extraction/recovery_problem.h"
#include "engines/file_recovery_parse.h"
#include "platform/file_handle.h"

namespace qm {

class FileExtractor {
 public:
  FileExtractor(ContentReader& reader, FolderLister& lister) : reader_(reader), lister_(lister) {}

  void SetFileProgress(FileProgressFn progress, void* user) {
    fileProgress_ = progress;
    user_ = user;
  }

  // A file record is written to `destination` (its folder is created when
  // missing); a folder record becomes the folder `destination` and its
  // contents are copied breadth first. Files are only ever created new:
  // where a name is taken (even by a link), "name(n).ext" is used instead.
  // 0, an error code, or the stopping callback value. A file with
  // unreadable parts is written with zeros in their place and gives 23; a
  // file that fails is not left under its name: what was read is kept as
  // NAME.partial (nothing when nothing was read). In a folder, a damaged or
  // failed file is reported to FileProgress and the next one is copied; the
  // last of their codes is the result. Files get the record's access and
  // modification times.
  int RecoverItem(const FoundFileRecord& record, const std::filesystem::path& destination);

  // The files of the last RecoverItem that did not come out whole.
  const std::vector<RecoveryProblem>& problems() const { return problems_; }

  // Photos go to "tmp.jpg", audio and video to "tmp.avi", office types to a
  // file of their own (safe) name, all in the ScanLog folder, whose path is
  // put in `outPath`; any other type fills `buffer` (up to *bufferSize
  // bytes; *bufferSize becomes the count copied, 0 when a file was written).
  int ExtractForPreview(const FoundFileRecord& record, std::string& outPath, uint8_t* buffer,
                        uint32_t* bufferSize, PreviewProgressFn progress, void* user);

 private:
  int CopyFile(const FoundFileRecord& record, const std::filesystem::path& destination);
  // Creates a new file at `wanted`, or at the next free name beside it.
  int CreateDestination(const std::filesystem::path& wanted, FileHandle& out,
                        std::filesystem::path& created);
  // Renames a failed file to NAME.partial, or removes it when nothing was
  // written; gives the kept path (empty when removed).
  std::filesystem::path SetAside(const std::filesystem::path& path, uint64_t written);
  int RecoverFolder(const FoundFileRecord& record, const std::filesystem::path& destination);
  int ReportFile(int step, int error, const std::filesystem::path& path);

  ContentReader& reader_;
  FolderLister& lister_;
  FileProgressFn fileProgress_ = nullptr;
  void* user_ = nullptr;
  DestinationNamer namer_;
  std::vector<RecoveryProblem> problems_;
};

}  // namespace qm
