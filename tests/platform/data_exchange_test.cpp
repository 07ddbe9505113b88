#include "platform/data_exchange.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <optional>
#include <ostream>

#include "support/fake_ui.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace tarvi {
namespace {

struct IntegerCase {
    const char* text;
    std::optional<int> value;
};

void PrintTo(const IntegerCase& c, std::ostream* out)
{
    *out << '"' << c.text << '"';
}

class IntegerFieldText : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerFieldText, ParsesAsTheFrameworkDoes)
{
    EXPECT_EQ(parseIntegerField(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IntegerFieldText,
    ::testing::Values(IntegerCase{"12", 12}, IntegerCase{"0", 0}, IntegerCase{"-3", -3}, IntegerCase{"+7", 7},
                      IntegerCase{"  42\t", 42}, IntegerCase{"\t-1 ", -1}, IntegerCase{"007", 7},
                      IntegerCase{"2147483647", INT_MAX}, IntegerCase{"-2147483648", INT_MIN},
                      IntegerCase{"2147483648", std::nullopt}, IntegerCase{"99999999999", std::nullopt},
                      IntegerCase{"", std::nullopt}, IntegerCase{"   ", std::nullopt},
                      IntegerCase{"12a", std::nullopt}, IntegerCase{"1 2", std::nullopt},
                      IntegerCase{"1.5", std::nullopt}, IntegerCase{"1e3", std::nullopt},
                      IntegerCase{"+-5", std::nullopt}, IntegerCase{"-", std::nullopt},
                      IntegerCase{"0x10", std::nullopt}, IntegerCase{"12\n", std::nullopt}));

struct NumberCase {
    const char* text;
    std::optional<double> value;
};

void PrintTo(const NumberCase& c, std::ostream* out)
{
    *out << '"' << c.text << '"';
}

class NumberFieldText : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberFieldText, ParsesAsTheFrameworkDoes)
{
    EXPECT_EQ(parseNumberField(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumberFieldText,
    ::testing::Values(NumberCase{"1", 1.0}, NumberCase{"2.5", 2.5}, NumberCase{" 2.5 ", 2.5},
                      NumberCase{"\t0.01\t", 0.01}, NumberCase{"-0.5", -0.5}, NumberCase{"+3", 3.0},
                      NumberCase{".5", 0.5}, NumberCase{"5.", 5.0}, NumberCase{"1e2", 100.0},
                      NumberCase{"1.5E-1", 0.15}, NumberCase{"0", 0.0}, NumberCase{"100", 100.0},
                      NumberCase{"", std::nullopt}, NumberCase{"  ", std::nullopt},
                      NumberCase{"abc", std::nullopt}, NumberCase{"1.5x", std::nullopt},
                      NumberCase{"1,5", std::nullopt}, NumberCase{"1 5", std::nullopt},
                      NumberCase{".", std::nullopt}, NumberCase{"1e", std::nullopt},
                      NumberCase{"e5", std::nullopt}, NumberCase{"nan", std::nullopt},
                      NumberCase{"inf", std::nullopt}, NumberCase{"-infinity", std::nullopt},
                      NumberCase{"0x1p3", std::nullopt}, NumberCase{"1e999", std::nullopt},
                      NumberCase{"1..2", std::nullopt}));

struct FormatCase {
    double value;
    int digits;
    const char* text;
};

void PrintTo(const FormatCase& c, std::ostream* out)
{
    *out << c.text;
}

class FieldFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FieldFormat, WritesLikePrintfG)
{
    EXPECT_EQ(formatNumberField(GetParam().value, GetParam().digits), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FieldFormat,
    ::testing::Values(FormatCase{1.0, doubleDigits, "1"}, FormatCase{0.0, doubleDigits, "0"},
                      FormatCase{100.0, doubleDigits, "100"}, FormatCase{2.5, doubleDigits, "2.5"},
                      FormatCase{0.1, doubleDigits, "0.1"}, FormatCase{1.0 / 3.0, doubleDigits, "0.333333333333333"},
                      FormatCase{1e20, doubleDigits, "1e+20"}, FormatCase{1e-5, doubleDigits, "1e-05"},
                      FormatCase{-0.25, doubleDigits, "-0.25"}, FormatCase{123456789012345678.0, doubleDigits, "1.23456789012346e+17"},
                      FormatCase{static_cast<float>(0.01f), floatDigits, "0.01"},
                      FormatCase{static_cast<float>(1.0f / 3.0f), floatDigits, "0.333333"},
                      FormatCase{600.0f, floatDigits, "600"}, FormatCase{1234567.0f, floatDigits, "1.23457e+06"}));

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

TEST_F(DataExchangeTest, ShowingTheDialogWritesEveryFieldIntoItsControl)
{
    dialog.exposure = 0.01f;
    dialog.gamma = 1.0 / 3.0;
    dialog.show();
    EXPECT_EQ(dialog.integerEdit->text(), "5");
    EXPECT_EQ(dialog.floatEdit->text(), "0.01");
    EXPECT_EQ(dialog.doubleEdit->text(), "0.333333333333333");
    EXPECT_EQ(dialog.textEdit->text(), "/data");
    EXPECT_FALSE(dialog.radio0->isChecked());
    EXPECT_TRUE(dialog.radio1->isChecked());
    EXPECT_FALSE(dialog.radio2->isChecked());
    EXPECT_TRUE(dialog.box->isChecked());
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(DataExchangeTest, EachShowingLoadsTheFieldsAfresh)
{
    dialog.show();
    dialog.hide();
    dialog.integer = 42;
    dialog.show();
    EXPECT_EQ(dialog.integerEdit->text(), "42");
}

TEST_F(DataExchangeTest, OkReadsEveryFieldBackAndCloses)
{
    dialog.show();
    dialog.integerEdit->setText(" 99 ");
    dialog.floatEdit->setText("600");
    dialog.doubleEdit->setText("0");
    dialog.textEdit->setText("/out dir");
    dialog.radio2->setChecked(true);
    dialog.box->setChecked(false);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.integer, 99);
    EXPECT_EQ(dialog.exposure, 600.0f);
    EXPECT_EQ(dialog.gamma, 0.0);
    EXPECT_EQ(dialog.directory, "/out dir");
    EXPECT_EQ(dialog.choice, 2);
    EXPECT_EQ(dialog.checked, 0);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(DataExchangeTest, TheSmallestExposureIsAcceptedAlthoughFloatsAreInexact)
{
    dialog.show();
    dialog.floatEdit->setText("0.01");
    EXPECT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.exposure, 0.01f);
}

struct RefusalCase {
    const char* field;  // "integer", "float" or "double"
    const char* text;
    const char* message;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.field << " \"" << c.text << '"';
}

class Refusals : public DataExchangeTest, public ::testing::WithParamInterface<RefusalCase> {
protected:
    QLineEdit* edit(const std::string& field) const
    {
        if (field == "integer")
            return dialog.integerEdit;
        if (field == "float")
            return dialog.floatEdit;
        return dialog.doubleEdit;
    }
};

TEST_P(Refusals, ShowTheMessageFocusTheFieldSelectItsTextAndKeepTheDialogOpen)
{
    const RefusalCase& c = GetParam();
    dialog.show();
    QLineEdit* field = edit(c.field);
    field->setText(QString::fromUtf8(c.text));
    field->deselect();
    dialog.radio2->setChecked(true);

    dialog.accept();

    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, c.message);
    EXPECT_EQ(ui.boxes[0].caption, "Tarvi");
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::ok);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.focusWidget(), field);
    EXPECT_EQ(field->selectedText(), field->text());
    // The refused field and the fields after it keep their values.
    EXPECT_EQ(dialog.integer, 5);
    EXPECT_EQ(dialog.exposure, 1.5f);
    EXPECT_EQ(dialog.gamma, 1.0);
    EXPECT_EQ(dialog.choice, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Refusals,
    ::testing::Values(RefusalCase{"integer", "abc", "Please enter an integer."},
                      RefusalCase{"integer", "", "Please enter an integer."},
                      RefusalCase{"integer", "2.5", "Please enter an integer."},
                      RefusalCase{"integer", "7 days", "Please enter an integer."},
                      RefusalCase{"integer", "100", "Please enter an integer between 0 and 99."},
                      RefusalCase{"integer", "-1", "Please enter an integer between 0 and 99."},
                      RefusalCase{"integer", "99999999999", "Please enter an integer."},
                      RefusalCase{"float", "x", "Please enter a number."},
                      RefusalCase{"float", "1e39", "Please enter a number."},
                      RefusalCase{"float", "0.005", "Please enter a number between 0.01 and 600."},
                      RefusalCase{"float", "601", "Please enter a number between 0.01 and 600."},
                      RefusalCase{"double", "abc", "Please enter a number."},
                      RefusalCase{"double", "nan", "Please enter a number."},
                      RefusalCase{"double", "101", "Please enter a number between 0 and 100."},
                      RefusalCase{"double", "-0.5", "Please enter a number between 0 and 100."},
                      RefusalCase{"double", "100.000001", "Please enter a number between 0 and 100."}));

TEST_F(DataExchangeTest, OnlyTheFirstRefusedFieldIsReported)
{
    dialog.show();
    dialog.integerEdit->setText("12");
    dialog.floatEdit->setText("abc");
    dialog.doubleEdit->setText("500");
    dialog.accept();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Please enter a number.");
    EXPECT_EQ(dialog.focusWidget(), dialog.floatEdit);
    // Fields before the refused one have been read, as the framework does.
    EXPECT_EQ(dialog.integer, 12);
    EXPECT_EQ(dialog.gamma, 1.0);
}

TEST_F(DataExchangeTest, OkAfterCorrectingTheFieldCloses)
{
    dialog.show();
    dialog.doubleEdit->setText("101");
    dialog.accept();
    ASSERT_TRUE(dialog.isVisible());
    dialog.doubleEdit->setText("2.5");
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.gamma, 2.5);
}

TEST_F(DataExchangeTest, CancelReadsNothing)
{
    dialog.show();
    dialog.doubleEdit->setText("abc");
    dialog.integerEdit->setText("7");
    dialog.reject();
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(dialog.integer, 5);
    EXPECT_EQ(dialog.gamma, 1.0);
}

TEST_F(DataExchangeTest, RadioGroupWithNoneCheckedIsMinusOneBothWays)
{
    dialog.choice = -1;
    dialog.show();
    EXPECT_FALSE(dialog.radio0->isChecked());
    EXPECT_FALSE(dialog.radio1->isChecked());
    EXPECT_FALSE(dialog.radio2->isChecked());
    dialog.choice = 7;
    EXPECT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.choice, -1);

    // Loading again replaces a checked button with the field's choice.
    dialog.radio2->setChecked(true);
    dialog.choice = 0;
    EXPECT_TRUE(dialog.updateData(false));
    EXPECT_TRUE(dialog.radio0->isChecked());
    EXPECT_FALSE(dialog.radio2->isChecked());
    // The group is still exclusive afterwards.
    dialog.radio1->setChecked(true);
    EXPECT_FALSE(dialog.radio0->isChecked());
}

TEST_F(DataExchangeTest, FieldsAreExchangedWithoutTheDesktopLocale)
{
    // A desktop whose decimal separator is a comma.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    dialog.gamma = 0.5;
    dialog.show();
    EXPECT_EQ(dialog.doubleEdit->text(), "0.5");
    dialog.doubleEdit->setText("2.25");
    EXPECT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.gamma, 2.25);
    QLocale::setDefault(previous);
}

}  // namespace
}  // namespace tarvi
