#include "session/scan_info.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/errors.h"
#include "platform/file_handle.h"

namespace qm::session {

namespace fs = std::filesystem;

namespace {

// One value per line: a line break or backslash in a path is escaped so a
// hostile file name cannot add keys.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

uint64_t ToNumber(const std::string& text) {
  uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

bool ScanInfo::deep() const { return engine == kDeepEngine; }

bool ScanInfo::SameVolume(const ScanInfo& other, std::string& why) const {
  if (path != other.path) {
    why = "it was made for " + (source.empty() ? path : source);
    return false;
  }
  if (startSector != other.startSector || sectorCount != other.sectorCount) {
    why = "it was made for another volume of " + path + " (the one at sector " +
          std::to_string(startSector) + ")";
    return false;
  }
  if (deviceId != other.deviceId) {
    why = "another disk is at " + path + " now";
    return false;
  }
  if (sourceBytes != other.sourceBytes || imageTime != other.imageTime) {
    why = path + " has changed since that scan";
    return false;
  }
  return true;
}

int WriteScanInfo(const fs::path& folder, const ScanInfo& info) {
  std::ostringstream text;
  text << "source=" << Escape(info.source) << "\n"
       << "path=" << Escape(info.path) << "\n"
       << "kind=" << Escape(info.kind) << "\n"
       << "engine=" << Escape(info.engine) << "\n"
       << "started=" << Escape(info.started) << "\n"
       << "startSector=" << info.startSector << "\n"
       << "sectorCount=" << info.sectorCount << "\n"
       << "sourceBytes=" << info.sourceBytes << "\n"
       << "imageTime=" << info.imageTime << "\n"
       << "deviceId=" << Escape(info.deviceId) << "\n"
       << "filesFound=" << info.filesFound << "\n"
       << "finished=" << (info.finished ? 1 : 0) << "\n";
  if (info.deep())
    text << "sectorsDone=" << info.sectorsDone << "\n"
         << "sectorsTotal=" << info.sectorsTotal << "\n"
         << "resumed=" << Escape(info.resumed) << "\n"
         << "wholeVolume=" << (info.wholeVolume ? 1 : 0) << "\n";
  const std::string bytes = text.str();
  const fs::path temp = folder / (std::string(kScanInfoName) + ".tmp");
  int rc;
  {
    FileHandle file;
    rc = file.CreateForWrite(temp);
    if (rc == 0) rc = file.WriteAt(0, bytes.data(), bytes.size());
  }
  std::error_code ec;
  if (rc == 0) fs::rename(temp, folder / kScanInfoName, ec);
  if (rc == 0 && ec) rc = ErrorFromErrno(ec.value());
  if (rc != 0) fs::remove(temp, ec);
  return rc;
}

bool ReadScanInfo(const fs::path& folder, ScanInfo& info) {
  std::ifstream in(folder / kScanInfoName);
  if (!in) return false;
  info = ScanInfo{};
  std::string line;
  bool any = false;
  for (int lines = 0; lines < 64 && std::getline(in, line); ++lines) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = Unescape(line.substr(eq + 1));
    any = true;
    if (key == "source") info.source = value;
    else if (key == "path") info.path = value;
    else if (key == "kind") info.kind = value;
    else if (key == "engine") info.engine = value;
    else if (key == "started") info.started = value;
    else if (key == "startSector") info.startSector = ToNumber(value);
    else if (key == "sectorCount") info.sectorCount = ToNumber(value);
    else if (key == "sourceBytes") info.sourceBytes = ToNumber(value);
    else if (key == "imageTime") info.imageTime = ToNumber(value);
    else if (key == "deviceId") info.deviceId = value;
    else if (key == "filesFound") info.filesFound = ToNumber(value);
    else if (key == "finished") info.finished = value == "1";
    else if (key == "sectorsDone") info.sectorsDone = ToNumber(value);
    else if (key == "sectorsTotal") info.sectorsTotal = ToNumber(value);
    else if (key == "resumed") info.resumed = value;
    else if (key == "wholeVolume") info.wholeVolume = value == "1";
  }
  return any && !info.path.empty();
}

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace qm::session
