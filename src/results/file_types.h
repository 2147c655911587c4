// The file types known by extension: the one table that sorts found files
// into photo, audio, video, document, archive and others, and that tells
// the preview how to show a document.
//
// Extensions are compared whole, lower-cased and without the dot: "md" is
// not "mdb", "c" is not "cr2". The "*.ext|*.ext" list texts that filters
// carry are made from this table, never the other way round.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qm {

// In this order: it is the order of the category names, of the category
// nodes of the result view, and the order in which the categories are tried.
enum class FileCategory : uint8_t { kPhoto, kAudio, kVideo, kDocument, kArchive, kOthers };

inline constexpr const char* kCategoryNames[] = {"photo", "audio", "video",
                                                 "document", "archive", "others"};

// The converter that turns a document into preview text. A file with one
// keeps its own name when it is copied out to be previewed.
enum class PreviewConverter : uint8_t { kNone, kWord, kSlides, kSheet, kPdf, kArchive };

struct FileType {
  std::string_view extension;  // lower case, without the dot
  FileCategory category;       // kOthers: a type only the preview knows
  PreviewConverter converter = PreviewConverter::kNone;
};

// Every row, in the order of the category lists. An extension may have a
// row in more than one category.
std::span<const FileType> FileTypeTable();

// Rule "first category wins": an extension listed in two categories
// belongs to the one that comes first in FileCategory order. "rm" is in
// the audio and the video list and is audio.
//
// The first row of the extension; null when it has none.
const FileType* FindFileType(std::string_view lowerExtension);
// The category of the extension's first row; kOthers when it has none.
FileCategory CategoryOfExtension(std::string_view lowerExtension);
// True when the extension sorts into one of the five named categories.
bool IsKnownExtension(std::string_view lowerExtension);
PreviewConverter PreviewConverterOf(std::string_view lowerExtension);

// "photo", "audio", ... "others".
const char* CategoryName(FileCategory category);
// False when `name` is none of kCategoryNames.
bool CategoryFromName(std::string_view name, FileCategory& category);

// The category's rows as a filter text, "*.bmp|*.gif|...", in table order;
// empty for kOthers.
const std::string& CategoryListText(FileCategory category);

}  // namespace qm
