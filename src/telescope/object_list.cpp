#include "telescope/object_list.h"

#include <utility>
#include <QEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QStringDecoder>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>

#include "platform/dialog_units.h"

namespace tarvi {

QString objectText(std::string_view text)
{
    const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : decoded;
}

objectList::objectList(Ui& ui, QWidget* parent, std::string directory)
    : QDialog(parent), ui_(ui), directory_(std::move(directory))
{
    setWindowTitle(QStringLiteral("Object List"));
    const DialogUnits du(font());

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("list5064"));
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setColumnCount(static_cast<int>(objectListColumns.size()));
    QStringList headings;
    for (const ObjectListColumn& column : objectListColumns)
        headings << QString::fromLatin1(column.heading.data(), static_cast<qsizetype>(column.heading.size()));
    list_->setHeaderLabels(headings);
    list_->header()->setSectionsMovable(true);
    list_->header()->setStretchLastSection(false);
    int columnsWidth = 0;
    for (std::size_t i = 0; i < objectListColumns.size(); ++i) {
        list_->setColumnWidth(static_cast<int>(i), objectListColumns[i].widthPixels);
        columnsWidth += objectListColumns[i].widthPixels;
    }
    // The columns are measured in pixels and the rest of the dialog in
    // dialog units; the list is wide enough to show every column whole.
    const int margin = du.x(7);
    const int listWidth = std::max(du.x(386), columnsWidth + 2 * list_->frameWidth()
                                                  + style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    list_->setGeometry(margin, du.y(7), listWidth, du.y(146));
    list_->viewport()->installEventFilter(this);

    const int width = listWidth + 2 * margin;
    const QRect buttonSize = du.rect(0, 159, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(width - margin - buttonSize.width(), buttonSize.y(), buttonSize.width(), buttonSize.height());
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(cancel->x() - du.x(6) - buttonSize.width(), buttonSize.y(), buttonSize.width(),
                    buttonSize.height());
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(width, du.y(180));

    readObjects();
}

void objectList::readObjects()
{
    WaitCursor wait(ui_);
    FileError error;
    auto read = readObjectsFile(directory_ + "/" + std::string(objectsFileName), &error);
    if (!read) {
        ui_.messageBox(objectsFileMessage(error), objectsFileMissingCaption);
        return;
    }
    rows_ = std::move(*read);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows_.size()));
    for (const ObjectRow& row : rows_) {
        items << new QTreeWidgetItem(QStringList{objectText(row.name), objectText(row.ra), objectText(row.dec),
                                                 objectText(row.magnitude), objectText(row.size),
                                                 objectText(row.otherData)});
    }
    list_->addTopLevelItems(items);
}

void objectList::accept()
{
    // The row's own bytes go back, not the text shown for them.
    const QList<QTreeWidgetItem*> chosen = list_->selectedItems();
    const int at = chosen.isEmpty() ? -1 : list_->indexOfTopLevelItem(chosen.front());
    selection = at >= 0 ? objectSelection(rows_[static_cast<std::size_t>(at)]) : std::string();
    QDialog::accept();
}

bool objectList::eventFilter(QObject* watched, QEvent* event)
{
    // A double click anywhere in the list closes it, on a row or not.
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace tarvi
