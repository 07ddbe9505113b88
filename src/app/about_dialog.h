#pragma once

#include <QDialog>

namespace tarvi {

// Help > About: the icon, the name and version, the release date, and OK.
class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tarvi
