#pragma once

#include <QDialog>

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui.h"
#include "telescope/objects_file.h"

class QTreeWidget;

namespace tarvi {

// The user's own objects, read from "objects.txt" in the start directory,
// as a six-column report list. OK, or a double click in the list, hands the
// selected row back to the objects page in selection.
class objectList final : public QDialog {
    Q_OBJECT
public:
    // objects.txt is read from directory, the one Tarvi started in.
    explicit objectList(Ui& ui, QWidget* parent = nullptr, std::string directory = ".");

    // "%-25s %-8s %-9s" of the chosen row's name, R.A. and Dec.; empty when
    // no row was selected.
    std::string selection;

    void accept() override;

    QTreeWidget* list() const { return list_; }
    const std::vector<ObjectRow>& rows() const { return rows_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void readObjects();

    Ui& ui_;
    std::string directory_;
    QTreeWidget* list_ = nullptr;
    std::vector<ObjectRow> rows_;
};

// A text of objects.txt or of the telescope for a control: UTF-8 when it is
// valid UTF-8, else Latin-1, as files written on older systems are.
QString objectText(std::string_view text);

}  // namespace tarvi
