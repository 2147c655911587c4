// Space ticks and unticks the current row of a list whose first column
// holds the check boxes, whichever column the keyboard cursor is in (the
// item view itself toggles a box only when the cursor is on it).
#pragma once

class QAbstractItemView;

namespace qm {

void TickWithSpace(QAbstractItemView* list);

}  // namespace qm
