// The order in which listings show records: files before folders, each kind
// by name without regard to case; records with equal names keep their order.
#pragma once

#include <vector>

#include "results/found_file_record.h"

namespace qm {

bool ListsBefore(const FoundFileRecord& a, const FoundFileRecord& b);
void SortForListing(std::vector<FoundFileRecord>& records);

}  // namespace qm
