// The signature tests, one source file per family of formats. Each test is
// named after the first extension of its table row and has the SignatureTest
// shape: it looks at `len` bytes at the candidate start and returns a type id
// or kNoSignatureMatch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/signatures/signature_catalogue.h"

namespace qm::sig {

// video.cpp
int mpeg_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int mp4_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int rmvb_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int wmv_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int swf_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int avi_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int flv_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int threegp_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int mkv_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int mxf_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int mov_test(const uint8_t* data, size_t len, SignatureScanContext& context);

// transport_stream.cpp
int ts_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int mts_test(const uint8_t* data, size_t len, SignatureScanContext& context);

// audio.cpp
int mp3_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int mid_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int ape_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int wav_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int mp2_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int mmf_test(const uint8_t* data, size_t len, SignatureScanContext& context);

// image.cpp
int gif_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int bmp_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int jpg_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int png_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int psd_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int tif_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int ico_test(const uint8_t* data, size_t len, SignatureScanContext& context);
// True when any of the picture tests above matches.
bool IsPicture(const uint8_t* data, size_t len, SignatureScanContext& context);
bool IsPictureTest(SignatureTest test);

// compound_file.cpp: every compound file (fla), and the office classification
int fla_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int doc_test(const uint8_t* data, size_t len, SignatureScanContext& context);

// open_xml.cpp
int docx_test(const uint8_t* data, size_t len, SignatureScanContext& context);

// archive.cpp
int gz_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int sevenz_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int zip_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int rar_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int cab_test(const uint8_t* data, size_t len, SignatureScanContext& context);

// executable.cpp
int exe_test(const uint8_t* data, size_t len, SignatureScanContext& context);

// misc.cpp
int pdf_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int gho_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int db_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int dbx_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int pst_test(const uint8_t* data, size_t len, SignatureScanContext& context);
int ttf_test(const uint8_t* data, size_t len, SignatureScanContext& context);

}  // namespace qm::sig
