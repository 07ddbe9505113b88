#pragma once

// Driving modal dialogs in widget tests.

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <gtest/gtest.h>
#include <ostream>

namespace tarvi::test {

// Runs body on the modal dialog of type D once its event loop is up; a dialog
// the body leaves open is cancelled, so a failing check cannot hang the test.
template <class D>
void whenModal(std::function<void(D&)> body)
{
    QTimer::singleShot(0, [body] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        body(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
}

template <class W>
W* child(QWidget& parent, const QString& name)
{
    W* widget = parent.findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
}

inline QAbstractButton* buttonNamed(QWidget& parent, const QString& text)
{
    for (QAbstractButton* button : parent.findChildren<QAbstractButton*>()) {
        if (button->text() == text)
            return button;
    }
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

inline QStringList labelTexts(QWidget& parent)
{
    QStringList texts;
    for (QLabel* label : parent.findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

// A dialog field given a text that OK must refuse with the message.
struct FieldRefusal {
    const char* field;
    const char* text;
    const char* message;
};

inline void PrintTo(const FieldRefusal& c, std::ostream* out)
{
    *out << c.field << " \"" << c.text << '"';
}

}  // namespace tarvi::test
