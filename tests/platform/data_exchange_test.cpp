#include "platform/data_exchange.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <optional>
#include <tuple>

#include "support/fake_ui.h"

namespace tarvi {
namespace {

TEST(DataExchangeText, ParsesAndFormatsAsTheFrameworkDoes)
{
    const std::pair<const char*, std::optional<int>> integers[] = {
        {"12", 12}, {"0", 0}, {"-3", -3}, {"+7", 7}, {"  42\t", 42}, {"\t-1 ", -1}, {"007", 7},
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"2147483648", {}}, {"99999999999", {}}, {"", {}},
        {"   ", {}}, {"12a", {}}, {"1 2", {}}, {"1.5", {}}, {"1e3", {}}, {"+-5", {}}, {"-", {}}, {"0x10", {}},
        {"12\n", {}}};
    for (const auto& [text, value] : integers)
        EXPECT_EQ(parseIntegerField(text), value) << '"' << text << '"';
    const std::pair<const char*, std::optional<double>> numbers[] = {
        {"1", 1.0}, {"2.5", 2.5}, {" 2.5 ", 2.5}, {"\t0.01\t", 0.01}, {"-0.5", -0.5}, {"+3", 3.0}, {".5", 0.5},
        {"5.", 5.0}, {"1e2", 100.0}, {"1.5E-1", 0.15}, {"0", 0.0}, {"100", 100.0}, {"", {}}, {"  ", {}},
        {"abc", {}}, {"1.5x", {}}, {"1,5", {}}, {"1 5", {}}, {".", {}}, {"1e", {}}, {"e5", {}}, {"nan", {}},
        {"inf", {}}, {"-infinity", {}}, {"0x1p3", {}}, {"1e999", {}}, {"1..2", {}}};
    for (const auto& [text, value] : numbers)
        EXPECT_EQ(parseNumberField(text), value) << '"' << text << '"';
    const std::tuple<double, int, const char*> formats[] = {
        {1.0, doubleDigits, "1"}, {0.0, doubleDigits, "0"}, {100.0, doubleDigits, "100"}, {0.1, doubleDigits, "0.1"},
        {1.0 / 3.0, doubleDigits, "0.333333333333333"}, {1e20, doubleDigits, "1e+20"}, {1e-5, doubleDigits, "1e-05"},
        {-0.25, doubleDigits, "-0.25"}, {123456789012345678.0, doubleDigits, "1.23456789012346e+17"},
        {0.01f, floatDigits, "0.01"}, {1.0f / 3.0f, floatDigits, "0.333333"}, {1234567.0f, floatDigits, "1.23457e+06"}};
    for (const auto& [value, digits, text] : formats)
        EXPECT_EQ(formatNumberField(value, digits), text);
}

// A dialog with one field of every kind, in the order later dialogs use them.
class FieldsDialog final : public ExchangeDialog {
public:
    explicit FieldsDialog(Ui& ui) : ExchangeDialog(ui) {}

    int integer = 5;
    float exposure = 1.5f;
    double gamma = 1.0;
    std::string directory = "/data";
    int choice = 1;
    int checked = 1;

    QLineEdit* integerEdit = new QLineEdit(this);
    QLineEdit* floatEdit = new QLineEdit(this);
    QLineEdit* doubleEdit = new QLineEdit(this);
    QLineEdit* textEdit = new QLineEdit(this);
    QRadioButton* radio0 = new QRadioButton(this);
    QRadioButton* radio1 = new QRadioButton(this);
    QRadioButton* radio2 = new QRadioButton(this);
    QCheckBox* box = new QCheckBox(this);

protected:
    void doDataExchange(DataExchange& exchange) override
    {
        exchange.text(integerEdit, integer, 0, 99);
        exchange.text(floatEdit, exposure, 0.01f, 600.0f);
        exchange.text(doubleEdit, gamma, 0.0, 100.0);
        exchange.text(textEdit, directory);
        exchange.radio({radio0, radio1, radio2}, choice);
        exchange.check(box, checked);
    }
};

class DataExchangeTest : public ::testing::Test {
protected:
    test::FakeUi ui;
    FieldsDialog dialog{ui};

    void TearDown() override { dialog.hide(); }
};

// Loaded on each showing, read back on OK, left alone on Cancel; numbers go
// both ways without the desktop's locale, here one with a decimal comma.
TEST_F(DataExchangeTest, EachShowingLoadsEveryFieldOkReadsThemBackAndCancelReadsNothing)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    dialog.exposure = 0.01f;
    dialog.gamma = 1.0 / 3.0;
    dialog.show();
    dialog.integerEdit->setText("7");
    dialog.reject();
    EXPECT_EQ(dialog.integer, 5);
    dialog.integer = 42;
    dialog.show();
    const auto radios = [&] {
        return std::array{dialog.radio0->isChecked(), dialog.radio1->isChecked(), dialog.radio2->isChecked()};
    };
    EXPECT_EQ((std::array{dialog.integerEdit->text(), dialog.floatEdit->text(), dialog.doubleEdit->text(),
                          dialog.textEdit->text()}),
              (std::array<QString, 4>{"42", "0.01", "0.333333333333333", "/data"}));
    EXPECT_EQ(radios(), (std::array{false, true, false}));
    EXPECT_TRUE(dialog.box->isChecked());
    // The smallest exposure is taken although floats are inexact.
    EXPECT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.exposure, 0.01f);
    dialog.integerEdit->setText(" 99 ");
    dialog.floatEdit->setText("600");
    dialog.doubleEdit->setText("2.25");
    dialog.textEdit->setText("/out dir");
    dialog.radio2->setChecked(true);
    dialog.box->setChecked(false);
    dialog.accept();
    QLocale::setDefault(previous);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(std::tie(dialog.integer, dialog.exposure, dialog.gamma, dialog.directory, dialog.choice, dialog.checked),
              std::make_tuple(99, 600.0f, 2.25, std::string("/out dir"), 2, 0));
    EXPECT_TRUE(ui.boxes.empty());

    // A group with none checked is -1 both ways; loading unchecks the rest
    // and leaves the group exclusive.
    dialog.choice = -1;
    dialog.show();
    EXPECT_EQ(radios(), (std::array{false, false, false}));
    dialog.choice = 7;
    EXPECT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.choice, -1);
    dialog.radio2->setChecked(true);
    dialog.choice = 0;
    EXPECT_TRUE(dialog.updateData(false));
    EXPECT_EQ(radios(), (std::array{true, false, false}));
    dialog.radio1->setChecked(true);
    EXPECT_FALSE(dialog.radio0->isChecked());
}

TEST_F(DataExchangeTest, ARefusalShowsTheMessageFocusesTheFieldSelectsItsTextAndKeepsTheDialogOpen)
{
    const struct {
        QLineEdit* field;
        const char* text;
        const char* message;
    } cases[] = {  // texts that are no number at all are in the parser's table above
        {dialog.integerEdit, "abc", "Please enter an integer."},
        {dialog.integerEdit, "100", "Please enter an integer between 0 and 99."},
        {dialog.integerEdit, "-1", "Please enter an integer between 0 and 99."},
        {dialog.floatEdit, "x", "Please enter a number."},
        {dialog.floatEdit, "1e39", "Please enter a number."},  // too large for a float
        {dialog.floatEdit, "0.005", "Please enter a number between 0.01 and 600."},
        {dialog.floatEdit, "601", "Please enter a number between 0.01 and 600."},
        {dialog.doubleEdit, "nan", "Please enter a number."},
        {dialog.doubleEdit, "-0.5", "Please enter a number between 0 and 100."},
        {dialog.doubleEdit, "100.000001", "Please enter a number between 0 and 100."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ui.boxes.clear();
        dialog.show();
        c.field->setText(QString::fromUtf8(c.text));
        c.field->deselect();
        dialog.radio2->setChecked(true);
        dialog.accept();
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_TRUE(ui.boxes[0].text == c.message && ui.boxes[0].buttons == Buttons::ok);
        EXPECT_TRUE(dialog.isVisible() && dialog.focusWidget() == c.field && c.field->selectedText() == c.field->text());
        // The refused field and the fields after it keep their values.
        EXPECT_EQ(std::tie(dialog.integer, dialog.exposure, dialog.gamma, dialog.choice), std::make_tuple(5, 1.5f, 1.0, 1));
        dialog.reject();
    }
    // Only the first refused field is said; those before it have been read.
    dialog.show();
    dialog.integerEdit->setText("12");
    dialog.floatEdit->setText("abc");
    dialog.doubleEdit->setText("500");
    ui.boxes.clear();
    dialog.accept();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(dialog.focusWidget(), dialog.floatEdit);
    EXPECT_EQ(dialog.integer, 12);
    EXPECT_EQ(dialog.gamma, 1.0);
}

}  // namespace
}  // namespace tarvi
