#include "app/kept_scans_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/formatting.h"
#include "app/language_store.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "platform/errors.h"
#include "results/scan_history.h"
#include "session/scan_folders.h"

namespace qm {

namespace {

enum Column { kNumber, kDate, kSource, kKind, kFiles, kOnDisk, kColumns };

}  // namespace

KeptScansDialog::KeptScansDialog(QWidget* owner) : QDialog(owner) {
  setObjectName("KeptScansWnd");
  setWindowTitle(Message("MSG1462"));
  resize(720, 360);
  auto* column = new QVBoxLayout(this);
  intro_ = new QLabel(this);
  intro_->setObjectName("intro");
  intro_->setWordWrap(true);
  column->addWidget(intro_);
  list_ = new QTreeWidget(this);
  list_->setObjectName("ScanList");
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHeaderLabels({Message("MSG1464"), Message("MSG1465"), Message("MSG1466"), Message("MSG1467"),
                          Message("MSG1468"), Message("MSG1469")});
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->header()->setSectionResizeMode(kSource, QHeaderView::Stretch);
  list_->header()->setStretchLastSection(false);
  column->addWidget(list_, 1);
  auto* buttons = new QHBoxLayout;
  remove_ = new QPushButton(Message("MSG1470"), this);
  remove_->setObjectName("RemoveBtn");
  auto* close = new QPushButton(Message("MSG1471"), this);
  close->setObjectName("CloseBtn");
  buttons->addWidget(remove_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  column->addLayout(buttons);
  connect(remove_, &QAbstractButton::clicked, this, [this] { RemoveChosen(); });
  connect(close, &QAbstractButton::clicked, this, &QDialog::accept);
  connect(list_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* row) { remove_->setEnabled(row != nullptr); });
  Refill();
}

QString KeptScansDialog::Message(const char* key) const { return LanguageStore::Instance().Text("Messages", key); }

void KeptScansDialog::Refill() {
  list_->clear();
  const std::vector<session::KeptScan> scans = session::ListKeptScans(GetScanHistory());
  for (const session::KeptScan& scan : scans) {
    QStringList cells(kColumns);
    cells[kNumber] = QString::number(scan.number);
    cells[kDate] = QString::fromStdString(scan.info.started);
    // Scans of older versions carry no description; their number is all
    // there is to tell them by.
    cells[kSource] = scan.hasInfo ? QString::fromStdString(scan.info.source) : QString("?");
    cells[kKind] = !scan.hasInfo        ? QString()
                   : scan.info.deep()   ? Message("MSG1476")
                                        : Message("MSG1477");
    if (scan.hasInfo && !scan.info.finished) cells[kKind] += " " + Message("MSG1478");
    cells[kFiles] = QString::number(scan.FilesFound());
    cells[kOnDisk] = QString::fromStdString(FormatSize(static_cast<int64_t>(scan.bytesOnDisk)));
    auto* row = new QTreeWidgetItem(cells);
    row->setData(kNumber, Qt::UserRole, QVariant::fromValue<qulonglong>(scan.number));
    row->setToolTip(kSource, QString::fromStdString(scan.info.path));
    for (int cell : {kNumber, kFiles, kOnDisk}) row->setTextAlignment(cell, Qt::AlignRight | Qt::AlignVCenter);
    list_->addTopLevelItem(row);
  }
  intro_->setText(Message(scans.empty() ? "MSG1475" : "MSG1463"));
  if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
  remove_->setEnabled(list_->currentItem() != nullptr);
}

void KeptScansDialog::RemoveChosen() {
  QTreeWidgetItem* row = list_->currentItem();
  if (row == nullptr) return;
  const uint64_t number = row->data(kNumber, Qt::UserRole).toULongLong();
  const QString shown = QString::number(number);
  if (CMessageBox::Show(CMessageBox::Confirm, this,
                        FillMessage(Message("MSG1472"), {shown, row->text(kSource)})) != CMessageBox::Ok) {
    return;
  }
  const int rc = session::RemoveKeptScan(GetScanHistory(), number);
  if (rc == err::kBusy) {
    CMessageBox::Show(CMessageBox::Information, this, FillMessage(Message("MSG1473"), {shown}));
  } else if (rc != 0 && rc != err::kFileNotFound) {  // gone already is what was asked
    CMessageBox::Show(CMessageBox::Warning, this,
                      FillMessage(Message("MSG1474"), {shown, QString::fromStdString(ErrorText(rc))}));
  }
  Refill();
}

void ShowKeptScans(QWidget* owner) {
  KeptScansDialog dialog(owner);
  dialog.exec();
}

}  // namespace qm
