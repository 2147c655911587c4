// What the window words again when the user picks another language: the
// texts it made itself, besides those of the layout's controls.
#include <QHeaderView>
#include <QTreeView>
#include <QTreeWidget>

#include "app/file_type_tree.h"
#include "app/main_wnd.h"
#include "app/result_browser.h"

namespace qm {

void CMainWnd::RetranslateViews() {
  disks_->Retranslate();
  if (browser_ != nullptr) browser_->TypeTree().Retranslate();
  // The list models word their headings and sizes when asked; they are
  // asked again on the next paint.
  for (QTreeView* view : layout_->findChildren<QTreeView*>()) {
    if (qobject_cast<QTreeWidget*>(view) != nullptr || view->model() == nullptr) continue;
    QAbstractItemModel* model = view->model();
    if (model->columnCount() > 0) emit model->headerDataChanged(Qt::Horizontal, 0, model->columnCount() - 1);
    view->viewport()->update();
  }
}

}  // namespace qm
