#include "engines/signatures/signature_catalogue.h"

#include <algorithm>
#include <cstdio>

#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_scan.h"
#include "engines/signatures/signature_size_finders.h"
#include "platform/errors.h"

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
  auto add = [&t](std::string_view ext, int type, SignatureTest test, std::string_view first,
                  SignatureSizeFinder size) {
    t.push_back(SignatureEntry{ext, type, test, size, first});
  };
  for (auto ext : {"mpeg"sv, "mpg"sv, "vob"sv}) add(ext, 15, mpeg_test, kNul, mpeg_size);
  add("mp4", 18, mp4_test, {}, mp4_size);
  for (auto ext : {"rmvb"sv, "rm"sv}) add(ext, 23, rmvb_test, "."sv, rm_size);
  for (auto ext : {"wmv"sv, "asf"sv, "wma"sv}) add(ext, 24, wmv_test, "\x30"sv, asf_size);
  add("swf", 26, swf_test, "CF"sv, swf_size);
  add("avi", 22, avi_test, "R"sv, avi_size);
  add("flv", 27, flv_test, "F"sv, plain_2g_size);
  add("3gp", 16, threegp_test, {}, iso_media_size);
  add("mkv", 19, mkv_test, "\x1A"sv, plain_64g_size);
  add("ts", 20, ts_test, "\x47"sv, ts_size);
  add("mts", 47, mts_test, {}, plain_2g_size);
  add("mxf", 48, mxf_test, "\x06"sv, plain_2g_size);
  add("mp3", 12, mp3_test, "I"sv, mp3_size);
  add("mid", 13, mid_test, "M"sv, midi_size);
  add("ape", 25, ape_test, "M"sv, ape_size);
  add("wav", 21, wav_test, "R"sv, riff_size);
  add("mov", 17, mov_test, {}, iso_media_size);
  add("mp2", 11, mp2_test, "\xFF"sv, plain_256m_size);
  add("mmf", 14, mmf_test, "M"sv, plain_256m_size);
  add("fla", 44, fla_test, kCompoundLead, plain_256m_size);
  add("gif", 31, gif_test, "G"sv, gif_size);
  for (auto ext : {"bmp"sv, "dib"sv}) add(ext, 29, bmp_test, "B"sv, bmp_size);
  for (auto ext : {"jpg"sv, "jpeg"sv, "jpe"sv, "jfif"sv})
    add(ext, 10, jpg_test, "\xFF"sv, jpg_size);
  add("png", 30, png_test, "\x89"sv, png_size);
  add("psd", 28, psd_test, "8"sv, plain_128m_size);
  for (auto ext : {"tif"sv, "tiff"sv}) add(ext, 32, tif_test, "MI"sv, plain_128m_size);
  add("ico", 46, ico_test, kNul, ico_size);
  // Compound files: the test tells Word (0), Excel (3), PowerPoint (5) or
  // another compound file (2) apart. Carving never reaches these rows, since
  // the fla row above takes every compound file first; they serve the
  // content check, and measure a compound file for a caller that has one.
  for (auto ext : {"doc"sv, "dot"sv, "wps"sv, "wpt"sv})
    add(ext, 0, doc_test, kCompoundLead, compound_size);
  for (auto ext : {"xls"sv, "xlt"sv, "xla"sv, "et"sv, "ett"sv})
    add(ext, 3, doc_test, kCompoundLead, compound_size);
  for (auto ext : {"ppt"sv, "pot"sv, "pps"sv, "dps"sv, "dpt"sv})
    add(ext, 5, doc_test, kCompoundLead, compound_size);
  add("ole", 2, doc_test, kCompoundLead, compound_size);
  // Open XML packages: Word (1), Excel (4), PowerPoint (6), generic (7). The
  // test also takes a "[Content_Types].xml" name at offset 31 without a local
  // header at 0, so any first byte can match.
  for (auto ext : {"docx"sv, "docm"sv, "dotm"sv, "dotx"sv})
    add(ext, 1, docx_test, {}, open_xml_size);
  for (auto ext : {"xlsx"sv, "xlsb"sv, "xlsm"sv, "xlsx"sv, "xlam"sv, "xltx"sv, "xltm"sv})
    add(ext, 4, docx_test, {}, open_xml_size);
  for (auto ext : {"pptx"sv, "pptm"sv, "potx"sv, "potm"sv, "ppsx"sv, "ppsm"sv})
    add(ext, 6, docx_test, {}, open_xml_size);
  add("mso07", 7, docx_test, {}, open_xml_size);
  add("pdf", 8, pdf_test, "%"sv, pdf_size);
  for (auto ext : {"gz"sv, "gzip"sv}) add(ext, 36, gz_test, "\x1F"sv, plain_2g_size);
  add("7z", 34, sevenz_test, "7"sv, sevenz_size);
  add("zip", 35, zip_test, "P"sv, zip_size);
  add("rar", 37, rar_test, "R"sv, rar_size);
  add("cab", 33, cab_test, "M"sv, cab_size);
  add("exe", 41, exe_test, "M"sv, nullptr);
  add("dll", 42, exe_test, "M"sv, nullptr);
  add("sys", 43, exe_test, "M"sv, nullptr);
  add("gho", 9, gho_test, "\xFE"sv, nullptr);
  add("db", 39, db_test, "S"sv, plain_4g_size);
  add("dbx", 40, dbx_test, "\xCF"sv, plain_2g_size);
  add("pst", 38, pst_test, "!"sv, plain_2g_size);
  add("fla", 44, fla_test, kCompoundLead, plain_256m_size);
  add("ttf", 45, ttf_test, kNul, ttf_size);
  add("ico", 46, ico_test, kNul, ico_size);
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

int FirstMatchingType(const uint8_t* data, size_t len, SignatureScanContext& context,
                      int ignoredType) {
  if (len == 0) return kNoSignatureMatch;
  const std::vector<SignatureEntry>& table = SignatureTable();
  const SignatureFirstByteIndex& index = SignatureIndex();
  const std::vector<uint16_t>& fixed = index.byFirstByte[data[0]];
  const std::vector<uint16_t>& any = index.anyByte;
  // Merge the two ascending row lists so that rows run in table order.
  size_t f = 0, a = 0;
  SignatureTest lastRefused = nullptr;
  while (f < fixed.size() || a < any.size()) {
    const bool takeFixed = a == any.size() || (f < fixed.size() && fixed[f] < any[a]);
    const SignatureEntry& entry = table[takeFixed ? fixed[f++] : any[a++]];
    // Consecutive rows of one test (doc, dot, ... or docx, docm, ...) give
    // the same answer; a refusal need not be repeated.
    if (entry.test == lastRefused) continue;
    const int found = entry.test(data, len, context);
    if (found != kNoSignatureMatch && found != ignoredType) return found;
    lastRefused = entry.test;
  }
  return kNoSignatureMatch;
}

int IdentifyType(const uint8_t* data, size_t len, SignatureScanContext& context) {
  context.transportStreamStart = true;
  const int found = FirstMatchingType(data, len, context, kNoSignatureMatch);
  if (found != 20) context.transportStreamStart = false;
  context.previousWasMts = found == 47;
  return found;
}

int IdentifyAt(const uint8_t* data, size_t len, SignatureScanContext& context,
               SignatureHit& hit) {
  hit = SignatureHit{};
  const int typeId = IdentifyType(data, len, context);
  if (typeId == kNoSignatureMatch) return err::kInvalidParameter;
  const std::vector<SignatureEntry>& table = SignatureTable();
  const auto first = std::find_if(table.begin(), table.end(),
                                  [typeId](const SignatureEntry& e) { return e.typeId == typeId; });
  if (first == table.end() || first->sizeFinder == nullptr) return err::kInvalidParameter;
  hit.typeId = typeId;
  std::snprintf(hit.name, sizeof hit.name, "%lld.%.*s",
                static_cast<long long>(context.startSector),
                static_cast<int>(first->extension.size()), first->extension.data());
  context.cancelResult = 0;
  hit.size = first->sizeFinder(data, len, context);
  // Whatever a finder concluded, the file cannot run past the volume.
  const uint64_t left = context.source != nullptr ? sig::BytesLeftFromStart(context) : 0;
  if (left != 0) hit.size = std::min(hit.size, left);
  if (context.cancelResult != 0) return context.cancelResult;
  return err::kSuccess;
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
