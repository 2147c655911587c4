// The size finders of the catalogue rows: given the bytes the test saw at the
// candidate start, each answers the length in bytes of the file that starts
// there. Scanning finders read ahead through the context; header finders
// take the size from the file's own header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/signatures/signature_catalogue.h"

namespace qm::sig {

#define QM_SIZE_FINDER(name) \
  uint64_t name(const uint8_t* data, size_t len, SignatureScanContext& context)

// Scan to the next recognised start, up to a limit.
QM_SIZE_FINDER(plain_128m_size);
QM_SIZE_FINDER(plain_256m_size);
QM_SIZE_FINDER(plain_2g_size);
QM_SIZE_FINDER(plain_4g_size);
QM_SIZE_FINDER(plain_64g_size);

// Sizes written in the header.
QM_SIZE_FINDER(bmp_size);
QM_SIZE_FINDER(riff_size);
QM_SIZE_FINDER(avi_size);
QM_SIZE_FINDER(swf_size);
QM_SIZE_FINDER(asf_size);
QM_SIZE_FINDER(cab_size);
QM_SIZE_FINDER(ico_size);
QM_SIZE_FINDER(ttf_size);
// From the allocation table of a compound file.
QM_SIZE_FINDER(compound_size);

// Footers and end records.
QM_SIZE_FINDER(gif_size);
QM_SIZE_FINDER(jpg_size);
QM_SIZE_FINDER(png_size);
QM_SIZE_FINDER(pdf_size);
QM_SIZE_FINDER(zip_size);
QM_SIZE_FINDER(open_xml_size);
QM_SIZE_FINDER(rar_size);
QM_SIZE_FINDER(sevenz_size);

// Stream formats.
QM_SIZE_FINDER(midi_size);
QM_SIZE_FINDER(mp3_size);
QM_SIZE_FINDER(ape_size);
QM_SIZE_FINDER(mp4_size);
// QuickTime and 3GPP: the boxes, else the next recognised start.
QM_SIZE_FINDER(iso_media_size);
QM_SIZE_FINDER(mpeg_size);
QM_SIZE_FINDER(rm_size);
QM_SIZE_FINDER(ts_size);

#undef QM_SIZE_FINDER

}  // namespace qm::sig
