#include "engines/signatures/signature_catalogue.h"

#include <algorithm>

#include "engines/signatures/signature_families.h"

namespace qm {

using namespace std::literals;

namespace {

using namespace qm::sig;

// First bytes of the rows that sit at offset 0.
constexpr auto kNul = "\x00"sv;
constexpr auto kCompoundLead = "\xD0"sv;

// A table row of several extensions stands for consecutive entries; the
// order below is the order in which carving tries them.
std::vector<SignatureEntry> BuildTable() {
  std::vector<SignatureEntry> t;
  auto add = [&t](std::string_view ext, int type, SignatureTest test, std::string_view first) {
    t.push_back(SignatureEntry{ext, type, test, nullptr, first});
  };
  for (auto ext : {"mpeg"sv, "mpg"sv, "vob"sv}) add(ext, 15, mpeg_test, kNul);
  add("mp4", 18, mp4_test, {});
  for (auto ext : {"rmvb"sv, "rm"sv}) add(ext, 23, rmvb_test, "."sv);
  for (auto ext : {"wmv"sv, "asf"sv, "wma"sv}) add(ext, 24, wmv_test, "\x30"sv);
  add("swf", 26, swf_test, "CF"sv);
  add("avi", 22, avi_test, "R"sv);
  add("flv", 27, flv_test, "F"sv);
  add("3gp", 16, threegp_test, {});
  add("mkv", 19, mkv_test, "\x1A"sv);
  add("ts", 20, ts_test, "\x47"sv);
  add("mts", 47, mts_test, {});
  add("mxf", 48, mxf_test, "\x06"sv);
  add("mp3", 12, mp3_test, "I"sv);
  add("mid", 13, mid_test, "M"sv);
  add("ape", 25, ape_test, "M"sv);
  add("wav", 21, wav_test, "R"sv);
  add("mov", 17, mov_test, {});
  add("mp2", 11, mp2_test, "\xFF"sv);
  add("mmf", 14, mmf_test, "M"sv);
  add("fla", 44, fla_test, kCompoundLead);
  add("gif", 31, gif_test, "G"sv);
  for (auto ext : {"bmp"sv, "dib"sv}) add(ext, 29, bmp_test, "B"sv);
  for (auto ext : {"jpg"sv, "jpeg"sv, "jpe"sv, "jfif"sv}) add(ext, 10, jpg_test, "\xFF"sv);
  add("png", 30, png_test, "\x89"sv);
  add("psd", 28, psd_test, "8"sv);
  for (auto ext : {"tif"sv, "tiff"sv}) add(ext, 32, tif_test, "MI"sv);
  add("ico", 46, ico_test, kNul);
  // Compound files: the test tells Word (0), Excel (3), PowerPoint (5) or
  // another compound file (2) apart.
  for (auto ext : {"doc"sv, "dot"sv, "wps"sv, "wpt"sv}) add(ext, 0, doc_test, kCompoundLead);
  for (auto ext : {"xls"sv, "xlt"sv, "xla"sv, "et"sv, "ett"sv}) add(ext, 3, doc_test, kCompoundLead);
  for (auto ext : {"ppt"sv, "pot"sv, "pps"sv, "dps"sv, "dpt"sv}) add(ext, 5, doc_test, kCompoundLead);
  add("ole", 2, doc_test, kCompoundLead);
  // Open XML packages: Word (1), Excel (4), PowerPoint (6), generic (7). The
  // test also takes a "[Content_Types].xml" name at offset 31 without a local
  // header at 0, so any first byte can match.
  for (auto ext : {"docx"sv, "docm"sv, "dotm"sv, "dotx"sv}) add(ext, 1, docx_test, {});
  for (auto ext : {"xlsx"sv, "xlsb"sv, "xlsm"sv, "xlsx"sv, "xlam"sv, "xltx"sv, "xltm"sv})
    add(ext, 4, docx_test, {});
  for (auto ext : {"pptx"sv, "pptm"sv, "potx"sv, "potm"sv, "ppsx"sv, "ppsm"sv})
    add(ext, 6, docx_test, {});
  add("mso07", 7, docx_test, {});
  add("pdf", 8, pdf_test, "%"sv);
  for (auto ext : {"gz"sv, "gzip"sv}) add(ext, 36, gz_test, "\x1F"sv);
  add("7z", 34, sevenz_test, "7"sv);
  add("zip", 35, zip_test, "P"sv);
  add("rar", 37, rar_test, "R"sv);
  add("cab", 33, cab_test, "M"sv);
  add("exe", 41, exe_test, "M"sv);
  add("dll", 42, exe_test, "M"sv);
  add("sys", 43, exe_test, "M"sv);
  add("gho", 9, gho_test, "\xFE"sv);
  add("db", 39, db_test, "S"sv);
  add("dbx", 40, dbx_test, "\xCF"sv);
  add("pst", 38, pst_test, "!"sv);
  add("fla", 44, fla_test, kCompoundLead);
  add("ttf", 45, ttf_test, kNul);
  add("ico", 46, ico_test, kNul);
  return t;
}

SignatureFirstByteIndex BuildIndex(const std::vector<SignatureEntry>& table) {
  SignatureFirstByteIndex index;
  for (size_t row = 0; row < table.size(); ++row) {
    const auto r = static_cast<uint16_t>(row);
    if (table[row].firstBytes.empty()) {
      index.anyByte.push_back(r);
      continue;
    }
    for (char c : table[row].firstBytes) index.byFirstByte[static_cast<uint8_t>(c)].push_back(r);
  }
  return index;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const std::vector<SignatureEntry>& SignatureTable() {
  static const std::vector<SignatureEntry> table = BuildTable();
  return table;
}

const SignatureFirstByteIndex& SignatureIndex() {
  static const SignatureFirstByteIndex index = BuildIndex(SignatureTable());
  return index;
}

int IdentifyType(const uint8_t* data, size_t len, SignatureScanContext& context) {
  context.transportStreamStart = true;
  int found = kNoSignatureMatch;
  if (len > 0) {
    const std::vector<SignatureEntry>& table = SignatureTable();
    const SignatureFirstByteIndex& index = SignatureIndex();
    const std::vector<uint16_t>& fixed = index.byFirstByte[data[0]];
    const std::vector<uint16_t>& any = index.anyByte;
    // Merge the two ascending row lists so that rows run in table order.
    size_t f = 0, a = 0;
    SignatureTest lastRefused = nullptr;
    while (found == kNoSignatureMatch && (f < fixed.size() || a < any.size())) {
      const bool takeFixed = a == any.size() || (f < fixed.size() && fixed[f] < any[a]);
      const SignatureEntry& entry = table[takeFixed ? fixed[f++] : any[a++]];
      // Consecutive rows of one test (doc, dot, ... or docx, docm, ...) give
      // the same answer; a refusal need not be repeated.
      if (entry.test == lastRefused) continue;
      found = entry.test(data, len, context);
      lastRefused = entry.test;
    }
  }
  if (found != 20) context.transportStreamStart = false;
  context.previousWasMts = found == 47;
  return found;
}

int CheckContentByExtension(const uint8_t* data, size_t length, std::string_view extension,
                            SignatureScanContext& context) {
  const std::vector<SignatureEntry>& table = SignatureTable();
  const auto entry = std::find_if(table.begin(), table.end(), [&](const SignatureEntry& e) {
    return EqualsNoCase(e.extension, extension);
  });
  if (entry == table.end()) return 1;
  if (entry->test(data, length, context) == entry->typeId) return 1;
  return IsPictureTest(entry->test) && IsPicture(data, length, context) ? 1 : 0;
}

std::string_view ExtensionOfType(int typeId) {
  for (const SignatureEntry& entry : SignatureTable())
    if (entry.typeId == typeId) return entry.extension;
  return {};
}

}  // namespace qm
