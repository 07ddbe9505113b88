#pragma once

#include <functional>
#include <optional>
#include <string>

#include "telescope/catalogs.h"
#include "telescope/lx200_page.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tarvi {

// The "Objects" page of the telescope control sheet: an object of one of the
// telescope's own catalogs, or one from the user's objects.txt, its
// coordinates, and Go To, HALT and Sync for it.
class LX200P2 final : public LX200Page {
    Q_OBJECT
public:
    LX200P2(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent = nullptr);

    // Fields exchanged with the controls.
    std::string catalog;
    std::string objectNumber;
    std::string ra;
    std::string dec;

    // Runs the object list modally: the row chosen with OK ("%-25s %-8s
    // %-9s", empty when no row was selected), nothing after Cancel. Tests
    // put their own choice here.
    std::function<std::optional<std::string>()> chooseObject;
    // Where objects.txt is: the directory Tarvi started in.
    std::string objectsDirectory = ".";

    // Into the fields (saveAndValidate) or into the controls.
    void updateFields(bool saveAndValidate);

    // The object the page holds, for the FITS files of captures: the name
    // chosen from the user's list, else the catalog and number as shown;
    // empty when it holds none.
    std::string objectName() const;

    void onGet();
    void onList();
    void onGoTo();
    void onHalt();
    void onSync();
    // A catalog picked from the combo box's list.
    void onCatalogChanged(int index);
    // The user edited the object number.
    void onNumberChanged();

    QComboBox* catalogBox() const { return catalogBox_; }
    QLineEdit* numberEdit() const { return numberEdit_; }
    QLineEdit* raEdit() const { return raEdit_; }
    QLineEdit* decEdit() const { return decEdit_; }
    QLineEdit* listedNameEdit() const { return listedNameEdit_; }
    QPushButton* getButton() const { return getButton_; }
    QPushButton* listButton() const { return listButton_; }
    QPushButton* goToButton() const { return goToButton_; }
    QPushButton* haltButton() const { return haltButton_; }
    QPushButton* syncButton() const { return syncButton_; }

private:
    // The page's fields, selection, name and buttons as one state, and back.
    ObjectsPageState shownState() const;
    void showState(const ObjectsPageState& state);
    // Get's exchange with the telescope, from the state with the coordinates
    // cleared to the state it leaves.
    ObjectsPageState lookUpObject(ObjectsPageState state);

    // The name of the object taken from the list, as the file has it.
    std::string listedName_;

    QComboBox* catalogBox_ = nullptr;
    QLineEdit* numberEdit_ = nullptr;
    QLineEdit* raEdit_ = nullptr;
    QLineEdit* decEdit_ = nullptr;
    QLineEdit* listedNameEdit_ = nullptr;
    QPushButton* getButton_ = nullptr;
    QPushButton* listButton_ = nullptr;
    QPushButton* goToButton_ = nullptr;
    QPushButton* haltButton_ = nullptr;
    QPushButton* syncButton_ = nullptr;
};

}  // namespace tarvi
