#include "app/night_vision.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMdiArea>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionTitleBar>
#include <QToolBar>

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

// Caption elements of the colour table that the palette has no role for.
constexpr int inactiveCaption = 3;
constexpr int captionText = 9;
constexpr int inactiveCaptionText = 19;

}  // namespace

NightStyle::NightStyle(const ColorTable& values)
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))), values_(values)
{
}

void NightStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                    const QWidget* widget) const
{
    const auto* bar = qstyleoption_cast<const QStyleOptionTitleBar*>(option);
    if (control != CC_TitleBar || bar == nullptr) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const bool active = (bar->titleBarState & State_Active) != 0 || (bar->state & State_Active) != 0;
    const QColor back = colorOf(values_[std::size_t(active ? colorElement::activeCaption : inactiveCaption)]);
    const QColor ink = colorOf(values_[std::size_t(active ? captionText : inactiveCaptionText)]);
    painter->save();
    painter->fillRect(bar->rect, back);
    painter->setPen(ink);
    const QRect label = subControlRect(CC_TitleBar, bar, SC_TitleBarLabel, widget);
    painter->drawText(label, Qt::AlignCenter, painter->fontMetrics().elidedText(bar->text, Qt::ElideRight, label.width()));
    if ((bar->subControls & SC_TitleBarSysMenu) && !bar->icon.isNull()) {
        const QRect icon = subControlRect(CC_TitleBar, bar, SC_TitleBarSysMenu, widget);
        NightVision::redIcon(bar->icon, values_).paint(painter, icon.adjusted(2, 2, -2, -2));
    }
    // The buttons as plain glyphs in the caption's ink.
    for (const SubControl button : {SC_TitleBarMinButton, SC_TitleBarMaxButton, SC_TitleBarNormalButton,
                                    SC_TitleBarCloseButton}) {
        if (!(bar->subControls & button))
            continue;
        const QRect r = subControlRect(CC_TitleBar, bar, button, widget).adjusted(4, 4, -4, -4);
        if (!r.isValid())
            continue;
        switch (button) {
        case SC_TitleBarMinButton:
            painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
            break;
        case SC_TitleBarMaxButton:
            painter->drawRect(r.adjusted(0, 0, -1, -1));
            break;
        case SC_TitleBarNormalButton:
            painter->drawRect(r.adjusted(2, 0, -1, -3));
            painter->drawRect(r.adjusted(0, 2, -3, -1));
            break;
        default:
            painter->drawLine(r.topLeft(), r.bottomRight());
            painter->drawLine(r.topRight(), r.bottomLeft());
            break;
        }
    }
    painter->restore();
}

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

QIcon NightVision::redIcon(const QIcon& icon, const ColorTable& values)
{
    const int brightest = redOf(values[colorElement::menu]);
    QIcon red;
    for (const QSize size : {QSize(16, 15), QSize(16, 16), QSize(32, 32), QSize(48, 48)}) {
        QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int level = qGray(line[x]) * brightest / 255;
                line[x] = qRgba(level, 0, 0, qAlpha(line[x]));
            }
        }
        red.addPixmap(QPixmap::fromImage(image));
    }
    return red;
}

NightVision::NightVision(CTarviApp& app, CMainFrame& mainFrame) : app_(app), mainFrame_(mainFrame) {}

void NightVision::tintIcons()
{
    // The pictures of the toolbar and the windows' icons are drawn as they
    // are, whatever the palette: they become red too.
    if (savedActionIcons_.empty()) {
        for (QAction* action : mainFrame_.toolBar()->actions()) {
            if (!action->icon().isNull())
                savedActionIcons_.emplace(action, action->icon());
        }
        savedWindowIcon_ = mainFrame_.windowIcon();
        savedApplicationIcon_ = QApplication::windowIcon();
    }
    for (const auto& [action, icon] : savedActionIcons_)
        action->setIcon(redIcon(icon, app_.sysColorValues));
    mainFrame_.setWindowIcon(redIcon(savedWindowIcon_, app_.sysColorValues));
    QApplication::setWindowIcon(redIcon(savedApplicationIcon_, app_.sysColorValues));
}

void NightVision::restoreIcons()
{
    for (const auto& [action, icon] : savedActionIcons_)
        action->setIcon(icon);
    if (!savedActionIcons_.empty()) {
        mainFrame_.setWindowIcon(savedWindowIcon_);
        QApplication::setWindowIcon(savedApplicationIcon_);
    }
    savedActionIcons_.clear();
}

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
    // the palette alone, and its title bars with the scheme's caption colours.
    QApplication::setStyle(new NightStyle(app_.sysColorValues));
    const QPalette palette = paletteFor(app_.sysColorValues);
    QApplication::setPalette(palette);
    const QPalette menus = menuPaletteFor(app_.sysColorValues);
    QApplication::setPalette(menus, "QMenu");
    QApplication::setPalette(menus, "QMenuBar");
    QPalette frames = palette;
    setAll(frames, QPalette::Highlight, colorOf(app_.sysColorValues[colorElement::activeCaption]));
    QApplication::setPalette(frames, "QMdiSubWindow");
    mainFrame_.mdiArea()->setBackground(QBrush(Qt::black));
    tintIcons();
    qApp->setProperty(nightSchemeProperty, true);
    mainFrame_.showNormal();
}

void NightVision::OnNormalVision()
{
    if (app_.colorsSaved == 0)
        return;
    // The colours saved by the first scheme stay the ones brought back.
    if (!savedStyle_.isEmpty())
        QApplication::setStyle(QStyleFactory::create(savedStyle_));
    restoreIcons();
    QApplication::setPalette(savedPalette_);
    QApplication::setPalette(savedMenuPalette_, "QMenu");
    QApplication::setPalette(savedMenuBarPalette_, "QMenuBar");
    QApplication::setPalette(savedSubWindowPalette_, "QMdiSubWindow");
    mainFrame_.mdiArea()->setBackground(savedWorkspace_);
    qApp->setProperty(nightSchemeProperty, false);
}

}  // namespace tarvi
