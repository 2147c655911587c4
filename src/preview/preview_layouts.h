// The controls the preview windows cannot work without, by layout.
#pragma once

#include <QStringList>

namespace qm {

inline constexpr const char* kPreviewProcessLayout = "PreviewProcessWnd.ui";
inline const QStringList kPreviewProcessControls = {"stage", "percent", "progress", "CancelBtn", "FileName",
                                                    "closebtn"};

inline constexpr const char* kPreviewLayout = "PreviewWnd.ui";
inline const QStringList kPreviewControls = {"PreviewEdit", "FileName", "PrevBar", "NextBar", "CancelBtn",
                                             "RecoveryBtn", "PrevBtn",  "NextBtn", "closebtn"};

}  // namespace qm
