// Office Open XML and OpenDocument files are zip packages of XML parts.
#pragma once

#include <QByteArray>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>

namespace qm {

using PackageParts = std::map<std::string, QByteArray>;

// Reads every member whose name `wanted` accepts. Empty when the file is no
// readable zip, is damaged anywhere, holds a wanted member larger than
// kMaxPackageMemberBytes, or `stop` is requested.
std::optional<PackageParts> ReadPackageParts(const std::filesystem::path& path,
                                             const std::function<bool(const std::string&)>& wanted,
                                             std::stop_token stop);

}  // namespace qm
