#include "telescope/lx200_p2.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "platform/dialog_units.h"
#include "platform/waits.h"
#include "telescope/coordinates.h"
#include "telescope/object_list.h"

namespace tarvi {

namespace {

// Only a text that differs is written, as the framework does, so that the
// number being typed keeps its cursor and its undo history.
void exchangeText(bool saveAndValidate, QLineEdit* edit, std::string& field)
{
    if (saveAndValidate) {
        field = edit->text().toStdString();
        return;
    }
    const QString shown = QString::fromStdString(field);
    if (edit->text() != shown)
        edit->setText(shown);
}

}  // namespace

LX200P2::LX200P2(Ui& ui, Clock& clock, PortOwner& line, QWidget* parent) : LX200Page(ui, clock, line, parent)
{
    const Layout layout(*this);
    layout.group(QStringLiteral("Object"), 4, 2, 462, 70);
    const auto label = [&](const char* text, int x, int y) { layout.label(QString::fromLatin1(text), x, y + 2, 30); };
    const auto edit = [&](const char* name, int x, int y, int width, bool readOnly) {
        return readOnly ? layout.readOnlyEdit(name, x, y, width) : layout.edit(name, x, y, width);
    };
    const auto button = [&](const char* text, int x, int y) { return layout.button(QString::fromLatin1(text), x, y, 50); };

    label("Catalog", 10, 14);
    catalogBox_ = new QComboBox(this);
    catalogBox_->setObjectName(QStringLiteral("combo5023"));
    catalogBox_->setEditable(true);
    // A typed name is taken as typed: nothing completes it, changes its
    // letters or adds it to the list.
    catalogBox_->setCompleter(nullptr);
    catalogBox_->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string_view item : catalogItems)
        catalogBox_->addItem(QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size())));
    layout.units().place(catalogBox_, 42, 13, 80, 14);
    label("Number", 132, 14);
    numberEdit_ = edit("edit5041", 164, 14, 80, false);
    getButton_ = button("Get", 256, 13);
    listButton_ = button("List", 312, 13);

    label("R.A.", 10, 32);
    raEdit_ = edit("edit5043", 42, 32, 80, true);
    label("Dec.", 132, 32);
    decEdit_ = edit("edit5045", 164, 32, 80, true);
    goToButton_ = button("Go To", 256, 31);
    syncButton_ = button("Sync", 312, 31);
    haltButton_ = button("HALT", 368, 31);

    listedNameEdit_ = edit("edit5065", 42, 50, 202, true);

    connect(catalogBox_, &QComboBox::activated, this, &LX200P2::onCatalogChanged);
    connect(numberEdit_, &QLineEdit::textEdited, this, [this] { onNumberChanged(); });
    connect(getButton_, &QPushButton::clicked, this, [this] { onGet(); });
    connect(listButton_, &QPushButton::clicked, this, [this] { onList(); });
    connect(goToButton_, &QPushButton::clicked, this, [this] { onGoTo(); });
    connect(haltButton_, &QPushButton::clicked, this, [this] { onHalt(); });
    connect(syncButton_, &QPushButton::clicked, this, [this] { onSync(); });

    chooseObject = [this]() -> std::optional<std::string> {
        objectList dialog(ui_, this, objectsDirectory);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.selection;
    };

    showState(objectsPageInitialised());
    layout.finish();
}

void LX200P2::updateFields(bool saveAndValidate)
{
    if (saveAndValidate) {
        catalog = catalogBox_->currentText().toStdString();
    } else if (const QString name = QString::fromStdString(catalog); catalogBox_->currentText() != name) {
        // A catalog of the list selects its item; any other name is shown as
        // typed.
        const int item = catalogBox_->findText(name);
        if (item >= 0)
            catalogBox_->setCurrentIndex(item);
        else
            catalogBox_->setEditText(name);
    }
    exchangeText(saveAndValidate, numberEdit_, objectNumber);
    exchangeText(saveAndValidate, raEdit_, ra);
    exchangeText(saveAndValidate, decEdit_, dec);
}

ObjectsPageState LX200P2::shownState() const
{
    ObjectsPageState state;
    state.catalogIndex = catalogBox_->currentIndex();
    state.catalog = catalog;
    state.objectNumber = objectNumber;
    state.ra = ra;
    state.dec = dec;
    state.listedName = listedName_;
    state.getEnabled = getButton_->isEnabled();
    state.goToEnabled = goToButton_->isEnabled();
    state.syncEnabled = syncButton_->isEnabled();
    return state;
}

void LX200P2::showState(const ObjectsPageState& state)
{
    catalog = state.catalog;
    objectNumber = state.objectNumber;
    ra = state.ra;
    dec = state.dec;
    listedName_ = state.listedName;
    // The item first: storing the catalog then finds its name shown.
    if (catalogBox_->currentIndex() != state.catalogIndex)
        catalogBox_->setCurrentIndex(state.catalogIndex);
    updateFields(false);
    listedNameEdit_->setText(objectText(listedName_));
    getButton_->setEnabled(state.getEnabled);
    goToButton_->setEnabled(state.goToEnabled);
    syncButton_->setEnabled(state.syncEnabled);
}

std::string LX200P2::objectName() const
{
    const QString listed = listedNameEdit_->text().trimmed();
    if (!listed.isEmpty())
        return listed.toStdString();
    const QString number = numberEdit_->text().trimmed();
    if (number.isEmpty())
        return {};
    return (catalogBox_->currentText().trimmed() + QLatin1Char(' ') + number).toStdString();
}

void LX200P2::onGet()
{
    updateFields(true);
    job([this, started = afterGetStarted(shownState())] {
        const auto operation = LX200Page::operation();
        const ObjectsPageState found = lookUpObject(started);
        gui([&] { showState(found); });
    });
}

ObjectsPageState LX200P2::lookUpObject(ObjectsPageState state)
{
    const auto request = catalogRequest(state.catalog, state.objectNumber);
    if (!request) {
        ui_.messageBox(objectNumberRefusedMessage);
        return state;
    }
    if (!request->object.empty()) {
        if (!request->selection.empty())
            link_.query(request->selection, 50);
        link_.send(request->object);
    }
    if (!link_.ready()) {
        portNotOpenMessage();
        return state;
    }
    // A name that is none of the catalogs selected no object, and ":LI#"
    // would describe whichever object the telescope had selected before.
    if (request->object.empty())
        return state;
    // Nothing may come between the command and its late reply: the windows
    // paint, input waits, and the line carries nobody else's commands.
    const auto exchange = link_.line().exchange();
    link_.send(":LI#");
    if (request->objectInfoWaitMs > 0)
        deviceWait(ui_, clock_, request->objectInfoWaitMs, Looking::stepsOnly);
    const std::string info = link_.readReply(513, lx200::Reply::text);
    if (commandEnds())
        return state;
    if (objectInfoRefused(info)) {
        ui_.messageBox(info);
        return afterObjectRefused(state);
    }
    const std::string foundRa = link_.query(":Gr#", 100);
    const std::string foundDec = link_.query(":Gd#", 100);
    return afterObjectFound(state, foundRa, foundDec);
}

void LX200P2::onList()
{
    showState(afterListOpened(shownState()));
    const std::optional<std::string> chosen = chooseObject ? chooseObject() : std::nullopt;
    if (chosen)
        showState(afterListChosen(shownState(), *chosen));
}

void LX200P2::onGoTo()
{
    job([this] {
        const auto operation = LX200Page::operation();
        std::string targetRa, targetDec;
        gui([&] {
            targetRa = ra;
            targetDec = dec;
        });
        switch (goToCheck(targetRa, targetDec)) {
        case GoToCheck::missing:
            ui_.messageBox(goToUnavailableMessage, goToUnavailableCaption);
            return;
        case GoToCheck::malformed:
            return;
        case GoToCheck::ready:
            break;
        }
        if (const auto command = targetRaCommand(targetRa))
            link_.query(*command, 50);
        link_.query(targetDecCommand(targetDec), 50);
        const std::string reply = link_.query(":MS#", 100);
        if (const auto refusal = objectsPageSlewRefusal(reply))
            ui_.messageBox(*refusal, cannotSlewCaption, Buttons::ok, BoxStyle{.noOwner = true});
    });
}

void LX200P2::onHalt()
{
    urgentJob([this] {
        const auto operation = LX200Page::operation();
        link_.send(":Q#");
    });
}

void LX200P2::onSync()
{
    job([this] {
        const auto operation = LX200Page::operation();
        gui([this] { updateFields(true); });
        if (ui_.messageBox(syncQuestion, syncCaption, Buttons::yesNo) == Answer::yes)
            link_.query(":CM#", 100);
    });
}

void LX200P2::onCatalogChanged(int index)
{
    showState(afterCatalogChange(shownState(), index));
}

void LX200P2::onNumberChanged()
{
    updateFields(true);
    showState(afterNumberChange(shownState(), objectNumber));
}

}  // namespace tarvi
