#include "platform/data_exchange.h"

#include <QAbstractButton>
#include <QLineEdit>

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>

namespace tarvi {

namespace {

constexpr std::string_view notAnInteger = "Please enter an integer.";
constexpr std::string_view notANumber = "Please enter a number.";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The text with its surrounding blanks taken off.
std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The characters from position i on that are digits.
std::size_t digitsFrom(std::string_view text, std::size_t i)
{
    std::size_t n = 0;
    while (i + n < text.size() && isDigit(text[i + n]))
        ++n;
    return n;
}

// A plain decimal number: sign, digits with at most one point and at least
// one digit, an optional exponent. from_chars alone would also take "inf",
// "nan" and hexadecimal forms, which no one types into a dialog.
bool isDecimalNumber(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    const std::size_t whole = digitsFrom(text, i);
    i += whole;
    std::size_t fraction = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        fraction = digitsFrom(text, i);
        i += fraction;
    }
    if (whole + fraction == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        const std::size_t exponent = digitsFrom(text, i);
        if (exponent == 0)
            return false;
        i += exponent;
    }
    return i == text.size();
}

std::string_view withoutPlus(std::string_view number)
{
    if (!number.empty() && number.front() == '+')
        number.remove_prefix(1);
    return number;
}

std::string rangeMessage(std::string_view kind, const std::string& low, const std::string& high)
{
    return "Please enter " + std::string(kind) + " between " + low + " and " + high + ".";
}

QString toQString(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string toStdString(const QString& text)
{
    return text.toStdString();
}

}  // namespace

std::optional<int> parseIntegerField(std::string_view text)
{
    const std::string_view number = trimmed(text);
    std::size_t i = 0;
    if (i < number.size() && (number[i] == '+' || number[i] == '-'))
        ++i;
    if (i == number.size() || digitsFrom(number, i) != number.size() - i)
        return std::nullopt;
    const std::string_view digits = withoutPlus(number);
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

std::optional<double> parseNumberField(std::string_view text)
{
    const std::string_view number = trimmed(text);
    if (!isDecimalNumber(number))
        return std::nullopt;
    const std::string_view digits = withoutPlus(number);
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string formatNumberField(double value, int significantDigits)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                                      significantDigits);
    return std::string(buffer, result.ptr);
}

void DataExchange::fail(QLineEdit* edit, const std::string& message)
{
    failed_ = true;
    ui_.messageBox(message);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

std::optional<int> DataExchange::readInteger(QLineEdit* edit)
{
    const std::optional<int> value = parseIntegerField(toStdString(edit->text()));
    if (!value)
        fail(edit, std::string(notAnInteger));
    return value;
}

std::optional<double> DataExchange::readNumber(QLineEdit* edit)
{
    const std::optional<double> value = parseNumberField(toStdString(edit->text()));
    if (!value)
        fail(edit, std::string(notANumber));
    return value;
}

void DataExchange::text(QLineEdit* edit, int& value)
{
    text(edit, value, INT_MIN, INT_MAX);
}

void DataExchange::text(QLineEdit* edit, int& value, int minValue, int maxValue)
{
    if (failed_)
        return;
    if (!saveAndValidate_) {
        edit->setText(QString::number(value));
        return;
    }
    const std::optional<int> read = readInteger(edit);
    if (!read)
        return;
    if (*read < minValue || *read > maxValue) {
        fail(edit, rangeMessage("an integer", std::to_string(minValue), std::to_string(maxValue)));
        return;
    }
    value = *read;
}

void DataExchange::text(QLineEdit* edit, float& value)
{
    text(edit, value, -FLT_MAX, FLT_MAX);
}

void DataExchange::text(QLineEdit* edit, float& value, float minValue, float maxValue)
{
    if (failed_)
        return;
    if (!saveAndValidate_) {
        edit->setText(toQString(formatNumberField(value, floatDigits)));
        return;
    }
    std::optional<double> read = parseNumberField(toStdString(edit->text()));
    if (read && std::fabs(*read) > FLT_MAX)
        read.reset();
    if (!read) {
        fail(edit, std::string(notANumber));
        return;
    }
    // Compared as floats, so that "0.01" meets a bound of 0.01f.
    const auto number = static_cast<float>(*read);
    if (number < minValue || number > maxValue) {
        fail(edit, rangeMessage("a number", formatNumberField(minValue, floatDigits),
                                formatNumberField(maxValue, floatDigits)));
        return;
    }
    value = number;
}

void DataExchange::text(QLineEdit* edit, double& value)
{
    text(edit, value, -DBL_MAX, DBL_MAX);
}

void DataExchange::text(QLineEdit* edit, double& value, double minValue, double maxValue)
{
    if (failed_)
        return;
    if (!saveAndValidate_) {
        edit->setText(toQString(formatNumberField(value, doubleDigits)));
        return;
    }
    const std::optional<double> read = readNumber(edit);
    if (!read)
        return;
    if (*read < minValue || *read > maxValue) {
        fail(edit, rangeMessage("a number", formatNumberField(minValue, doubleDigits),
                                formatNumberField(maxValue, doubleDigits)));
        return;
    }
    value = *read;
}

void DataExchange::text(QLineEdit* edit, std::string& value)
{
    if (failed_)
        return;
    if (saveAndValidate_)
        value = toStdString(edit->text());
    else
        edit->setText(toQString(value));
}

void DataExchange::radio(const QList<QAbstractButton*>& group, int& value)
{
    if (failed_)
        return;
    if (saveAndValidate_) {
        value = -1;
        for (qsizetype i = 0; i < group.size(); ++i) {
            if (group[i]->isChecked()) {
                value = static_cast<int>(i);
                break;
            }
        }
        return;
    }
    for (qsizetype i = 0; i < group.size(); ++i) {
        QAbstractButton* button = group[i];
        if (i == value) {
            button->setChecked(true);
        } else if (button->isChecked()) {
            // The checked button of an exclusive group refuses to be unchecked,
            // and -1 asks for none checked.
            const bool exclusive = button->autoExclusive();
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(exclusive);
        }
    }
}

void DataExchange::check(QAbstractButton* box, int& value)
{
    if (failed_)
        return;
    if (saveAndValidate_)
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value != 0);
}

ExchangeDialog::ExchangeDialog(Ui& ui, QWidget* parent) : QDialog(parent), ui_(ui)
{
    setModal(true);
}

bool ExchangeDialog::updateData(bool saveAndValidate)
{
    DataExchange exchange(ui_, saveAndValidate);
    doDataExchange(exchange);
    return !exchange.failed();
}

void ExchangeDialog::accept()
{
    if (updateData(true))
        QDialog::accept();
}

void ExchangeDialog::setVisible(bool visible)
{
    if (visible && !isVisible())
        updateData(false);
    QDialog::setVisible(visible);
}

}  // namespace tarvi
