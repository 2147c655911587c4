#include "cli/scan_session.h"

#include <cstdio>
#include <set>

#include "cli/command_registry.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "engines/engine_factory.h"
#include "engines/extraction/destination_names.h"
#include "platform/errors.h"
#include "results/scan_history.h"

namespace qm::cli {

namespace fs = std::filesystem;

namespace {

// Every engine tags its records with this; the command line opens one
// source at a time.
constexpr uint16_t kSourceTag = 1;

int OnScanProgress(void* user, int step, int scale, int64_t secondsLeft, uint64_t done,
                   uint64_t total, uint64_t found, int) {
  if (Interrupted()) return err::kCancelled;
  auto* line = static_cast<ProgressLine*>(user);
  std::string detail = std::to_string(found) + " found";
  if (total != 0) detail = FormatBytes(done) + "/" + FormatBytes(total) + ", " + detail;
  line->Update(step * scale / 100, secondsLeft, detail);
  return 0;
}

// The main log file of a scan folder: the one file whose name carries a log
// prefix and none of the two side-file suffixes.
std::string FindLogIn(const fs::path& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    auto has = [&](const char* p) { return name.rfind(p, 0) == 0; };
    auto ends = [&](const std::string& s) {
      return name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
    };
    if ((has("Fast_") || has("Pro_Fat_") || has("Pro_Ntfs_") || has("File_Type_")) &&
        !ends("_Relation") && !ends("_DirInfo") && entry.is_regular_file())
      return entry.path().string();
  }
  return {};
}

}  // namespace

int ScanSession::Open(const ScanOptions& options) {
  std::string message;
  if (ParseSource(options.source, target_, message) != 0) {
    std::fprintf(stderr, "quillmark-cli: %s\n", message.c_str());
    return kExitError;
  }
  int openError = 0;
  engine_ = target_.kind == ScanTarget::Kind::kImage
                ? EngineFactory::CreateEngineForImage(target_.path, kSourceTag, options.deep,
                                                      &openError)
                : EngineFactory::CreateEngineForPartition(target_.driveIndex, target_.startSector,
                                                          target_.sectorCount, kSourceTag,
                                                          options.deep, &openError);
  if (!engine_) {
    // 87: no engine fits the volume; anything else is why it could not be opened.
    if (openError != 0 && openError != err::kInvalidParameter)
      std::fprintf(stderr, "quillmark-cli: cannot open %s: %s\n", options.source.c_str(),
                   ErrorText(openError).c_str());
    else if (options.deep)
      std::fprintf(stderr,
                   "quillmark-cli: deep scans (formatted or damaged volumes, signature carving) "
                   "are not available in this version; try a quick scan without --deep\n");
    else
      std::fprintf(stderr,
                   "quillmark-cli: %s holds no FAT or NTFS file system that a quick scan can "
                   "read (check with 'quillmark-cli probe')\n",
                   options.source.c_str());
    return kExitError;
  }

  if (!options.logFolder.empty()) {
    const std::string log = FindLogIn(options.logFolder);
    if (log.empty()) {
      std::fprintf(stderr, "quillmark-cli: %s holds no scan log\n", options.logFolder.c_str());
      return kExitError;
    }
    scanFolder_ = options.logFolder;
    if (int rc = engine_->Scan(log.c_str()); rc != 0) {
      std::fprintf(stderr, "quillmark-cli: cannot open the scan log %s: %s\n", log.c_str(),
                   ErrorText(rc).c_str());
      return kExitError;
    }
    return kExitOk;
  }

  scanFolder_ = GetScanHistory().StartNewScanFolder();
  ProgressLine line(options.quiet);
  engine_->SetCallbacks(OnScanProgress, nullptr, &line, 100);
  const int rc = engine_->Scan(nullptr);
  line.Finish();
  engine_->SetCallbacks(nullptr, nullptr, nullptr, 100);
  if (rc == err::kCancelled) {
    std::fprintf(stderr, "quillmark-cli: scan cancelled; what was found so far is in %s\n",
                 scanFolder_.c_str());
    return kExitCancelled;
  }
  if (rc != 0) {
    std::fprintf(stderr, "quillmark-cli: the scan of %s failed: %s\n", options.source.c_str(),
                 ErrorText(rc).c_str());
    return kExitError;
  }
  return kExitOk;
}

int WalkTree(IFileRecoveryParse& engine,
             const std::function<void(const FoundFileRecord&, uint32_t, const std::string&)>& visit) {
  // Depth first with an explicit stack: a folder's contents come right after
  // it, and no depth of nesting can exhaust the call stack.
  struct Frame {
    std::vector<FoundFileRecord> items;
    size_t next = 0;
    uint32_t depth = 0;  // the depth the items lie at
    std::string path;    // their folder path
  };
  std::vector<Frame> stack(1);
  if (int rc = engine.ListChildren(nullptr, 0, stack[0].items); rc != 0) return rc;
  std::set<uint64_t> seen;
  int result = 0;
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next >= top.items.size()) {
      stack.pop_back();
      continue;
    }
    const FoundFileRecord record = top.items[top.next++];
    const uint32_t depth = top.depth;
    visit(record, depth, top.path);
    if (record.isDirectory == 0 || depth + 1 > 4096 ||
        !seen.insert((uint64_t{depth + 1} << 32) | record.entryId).second)
      continue;
    Frame child;
    child.depth = depth + 1;
    child.path = top.path + SafeFileName(record.Name()) + "/";
    if (int rc = engine.ListChildren(&record, child.depth, child.items); rc != 0) result = rc;
    stack.push_back(std::move(child));  // `top` is not used past this point
  }
  return result;
}

std::string SafeFolderPath(IFileRecoveryParse& engine, const FoundFileRecord& record) {
  std::string raw;
  if (engine.GetFullPath(record, raw) != 0) return {};
  std::string out, part;
  for (char c : raw) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) out += SafeFileName(part) + "/";
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) out += SafeFileName(part) + "/";
  return out;
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

}  // namespace qm::cli
