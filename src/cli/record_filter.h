// Choosing records by category and extension on the command line.
#pragma once

#include <string>
#include <vector>

#include "results/found_file_record.h"

namespace qm::cli {

// "photo,audio" -> {"photo","audio"}; false with a message for an unknown name.
bool ParseCategories(const std::string& text, std::vector<std::string>& categories,
                     std::string& message);
// "jpg, .PNG" -> {"jpg","png"}.
std::vector<std::string> ParseExtensions(const std::string& text);
// The category-listing filter for a set of categories ("others" lists
// unknown types); every known type when the set is empty.
std::string CategoryFilterText(const std::vector<std::string>& categories);

}  // namespace qm::cli
