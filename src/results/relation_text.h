// The _Relation file of a scan log: ASCII text without header or line
// breaks, for each directory key in ascending order
//
//   " | <key> - [<index>,<index>,...]"
//
// with the record indices in the order they were filed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

using RelationMap = std::map<uint64_t, std::vector<uint32_t>>;

std::string FormatRelationText(const RelationMap& relations);

// Reads the text back. Damage costs relations, never more: a key or index
// that is not a plain decimal, an index of 0 or beyond recordCount, and a
// list cut short keep only what was read intact before it. A later list of
// the same key replaces the earlier one; empty lists are dropped.
RelationMap ParseRelationText(std::string_view text, uint64_t recordCount);

// The longest text that recordCount records can give (each record under a
// key of its own with the widest numbers): a bigger file is damaged and only
// this much of it is read.
uint64_t MaxRelationTextBytes(uint64_t recordCount);

}  // namespace qm
