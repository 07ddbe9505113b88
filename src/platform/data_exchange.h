#pragma once

#include <QDialog>
#include <QList>

#include <optional>
#include <string>
#include <string_view>

#include "platform/ui.h"

class QAbstractButton;
class QLineEdit;

namespace tarvi {

// The texts a field shows and the framework's rules for reading them back:
// blanks (spaces and tabs) around the number are allowed, nothing else. The
// C library's number functions follow the desktop's locale (Qt sets it), so a
// German desktop would turn "0.5" into "0,5"; these never do.
std::optional<int> parseIntegerField(std::string_view text);
// Not finite or beyond the range of a double: not a number.
std::optional<double> parseNumberField(std::string_view text);
// "%.*g": 15 significant digits for a double, 6 for a float.
std::string formatNumberField(double value, int significantDigits);

inline constexpr int doubleDigits = 15;
inline constexpr int floatDigits = 6;

// One pass of a dialog's fields to its controls or back. On the way back each
// field is parsed and range-checked as it comes; the first that fails shows
// the framework's message ("Please enter a number between 0 and 100."),
// takes the focus with its text selected, and the fields after it are left
// alone. A field is assigned only when its text passed.
class DataExchange {
public:
    DataExchange(Ui& ui, bool saveAndValidate) : ui_(ui), saveAndValidate_(saveAndValidate) {}

    bool saveAndValidate() const { return saveAndValidate_; }
    bool failed() const { return failed_; }

    void text(QLineEdit* edit, int& value);
    void text(QLineEdit* edit, int& value, int minValue, int maxValue);
    void text(QLineEdit* edit, float& value);
    void text(QLineEdit* edit, float& value, float minValue, float maxValue);
    void text(QLineEdit* edit, double& value);
    void text(QLineEdit* edit, double& value, double minValue, double maxValue);
    void text(QLineEdit* edit, std::string& value);

    // A group of radio buttons and the index of the checked one; -1 for none.
    void radio(const QList<QAbstractButton*>& group, int& value);
    // 0 unchecked, 1 checked.
    void check(QAbstractButton* box, int& value);

private:
    void fail(QLineEdit* edit, const std::string& message);
    std::optional<int> readInteger(QLineEdit* edit);
    std::optional<double> readNumber(QLineEdit* edit);

    Ui& ui_;
    bool saveAndValidate_;
    bool failed_ = false;
};

// A modal dialog whose fields are exchanged in doDataExchange: loaded into the
// controls each time it is shown, read back and validated by OK, which leaves
// the dialog open when a field is refused. Messages go through ui.
class ExchangeDialog : public QDialog {
    Q_OBJECT
public:
    explicit ExchangeDialog(Ui& ui, QWidget* parent = nullptr);

    // False (and the dialog stays as it is) when a field was refused.
    bool updateData(bool saveAndValidate);

    void accept() override;
    void setVisible(bool visible) override;

protected:
    virtual void doDataExchange(DataExchange& exchange) = 0;

private:
    Ui& ui_;
};

}  // namespace tarvi
