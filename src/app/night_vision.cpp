#include "app/night_vision.h"

#include <QApplication>
#include <QMdiArea>
#include <QStyle>
#include <QStyleFactory>

#include "app/main_frame.h"
#include "app/tarvi_app.h"

namespace tarvi {

namespace {

QColor colorOf(std::uint32_t colorRef)
{
    return QColor(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF));
}

// Every role in every state, so that disabled and inactive windows follow too.
void setAll(QPalette& palette, QPalette::ColorRole role, const QColor& color)
{
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, role, color);
}

}  // namespace

// How the desktop's colour elements reach Qt's palette roles:
//   button face (15)          -> Window, Button: dialog, toolbar, status bar
//                                and button surfaces
//   window (5)                -> Base, AlternateBase: edit fields, lists,
//                                the image windows' background
//   menu (4)                  -> Window, Button and Base of menus and the menu bar
//   highlight text (14)       -> HighlightedText
//   active caption (2)        -> Highlight of the image windows' frames, which
//                                draws their active title bar
//   highlight (13), window text (8), button text (18), grey text (17),
//   3-D light and shadow (16, 20, 21, 22), info text and background (23, 24),
//   application workspace (12) and every other element: 0, black ->
//                                WindowText, Text, ButtonText, BrightText,
//                                PlaceholderText, Light, Midlight, Mid, Dark,
//                                Shadow, Highlight, ToolTipBase, ToolTipText,
//                                Link, LinkVisited, and the MDI area's background
QPalette NightVision::paletteFor(const ColorTable& values)
{
    QPalette palette;
    const QColor black(0, 0, 0);
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        if (role != QPalette::NoRole)
            setAll(palette, QPalette::ColorRole(role), black);
    }
    setAll(palette, QPalette::Window, colorOf(values[colorElement::buttonFace]));
    setAll(palette, QPalette::Button, colorOf(values[colorElement::buttonFace]));
    setAll(palette, QPalette::Base, colorOf(values[colorElement::window]));
    setAll(palette, QPalette::AlternateBase, colorOf(values[colorElement::window]));
    setAll(palette, QPalette::HighlightedText, colorOf(values[colorElement::highlightText]));
    return palette;
}

QPalette NightVision::menuPaletteFor(const ColorTable& values)
{
    QPalette palette = paletteFor(values);
    const QColor menu = colorOf(values[colorElement::menu]);
    setAll(palette, QPalette::Window, menu);
    setAll(palette, QPalette::Button, menu);
    setAll(palette, QPalette::Base, menu);
    return palette;
}

NightVision::NightVision(CTarviApp& app, CMainFrame& mainFrame) : app_(app), mainFrame_(mainFrame) {}

void NightVision::OnNightVisionDark()
{
    apply(NightScheme::dark);
}

void NightVision::OnNightVisionLight()
{
    apply(NightScheme::light);
}

void NightVision::apply(NightScheme scheme)
{
    if (app_.colorsSaved == 0) {
        savedPalette_ = QApplication::palette();
        savedMenuPalette_ = QApplication::palette("QMenu");
        savedMenuBarPalette_ = QApplication::palette("QMenuBar");
        savedSubWindowPalette_ = QApplication::palette("QMdiSubWindow");
        savedWorkspace_ = mainFrame_.mdiArea()->background();
        savedStyle_ = QApplication::style()->name();
    }
    app_.colorsSaved = 1;
    app_.sysColorValues = nightSchemeValues(scheme);

    // Some desktop styles draw with their own colours; this one draws with
    // the palette alone.
    if (QApplication::style()->name().compare(QStringLiteral("fusion"), Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QPalette palette = paletteFor(app_.sysColorValues);
    QApplication::setPalette(palette);
    const QPalette menus = menuPaletteFor(app_.sysColorValues);
    QApplication::setPalette(menus, "QMenu");
    QApplication::setPalette(menus, "QMenuBar");
    QPalette frames = palette;
    setAll(frames, QPalette::Highlight, colorOf(app_.sysColorValues[colorElement::activeCaption]));
    QApplication::setPalette(frames, "QMdiSubWindow");
    mainFrame_.mdiArea()->setBackground(QBrush(Qt::black));
    mainFrame_.showNormal();
}

void NightVision::OnNormalVision()
{
    if (app_.colorsSaved == 0)
        return;
    // The colours saved by the first scheme stay the ones brought back.
    if (!savedStyle_.isEmpty() && QApplication::style()->name() != savedStyle_)
        QApplication::setStyle(QStyleFactory::create(savedStyle_));
    QApplication::setPalette(savedPalette_);
    QApplication::setPalette(savedMenuPalette_, "QMenu");
    QApplication::setPalette(savedMenuBarPalette_, "QMenuBar");
    QApplication::setPalette(savedSubWindowPalette_, "QMdiSubWindow");
    mainFrame_.mdiArea()->setBackground(savedWorkspace_);
}

}  // namespace tarvi
