#include "preview/jpeg_clean_decode.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace qm {

namespace {

struct ErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf escape;
};

[[noreturn]] void LeaveOnError(j_common_ptr info) {
  auto* trap = reinterpret_cast<ErrorTrap*>(info->err);
  std::longjmp(trap->escape, 1);
}

// Warnings are counted by libjpeg itself; nothing is printed.
void Silent(j_common_ptr /*info*/) {}

// Decodes with `info` already set up; kept apart from the setjmp frame so
// that no object with a destructor lives across the jump.
bool DecodeAll(jpeg_decompress_struct* info, std::vector<JSAMPLE>* row) {
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return false;
  jpeg_start_decompress(info);
  row->resize(static_cast<size_t>(info->output_width) * static_cast<size_t>(info->output_components));
  JSAMPROW rows[1] = {row->data()};
  while (info->output_scanline < info->output_height) {
    if (jpeg_read_scanlines(info, rows, 1) != 1) return false;
  }
  jpeg_finish_decompress(info);
  return true;
}

}  // namespace

bool LooksLikeJpeg(const QByteArray& data) { return data.size() >= 3 && data.startsWith("\xFF\xD8\xFF"); }

bool JpegDecodesCleanly(const QByteArray& data) {
  if (!LooksLikeJpeg(data)) return false;
  std::vector<JSAMPLE> row;
  jpeg_decompress_struct info{};
  ErrorTrap trap{};
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = LeaveOnError;
  trap.manager.output_message = Silent;
  jpeg_create_decompress(&info);
  bool decoded = false;
  if (setjmp(trap.escape) == 0) {
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    decoded = DecodeAll(&info, &row);
  }
  const bool clean = decoded && trap.manager.num_warnings == 0;
  jpeg_destroy_decompress(&info);
  return clean;
}

}  // namespace qm
