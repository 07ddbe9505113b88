#pragma once

#include <QBrush>
#include <QIcon>
#include <QPalette>
#include <QProxyStyle>
#include <QString>

#include <map>
#include <optional>

#include "app/color_schemes.h"

namespace tarvi {

class CTarviApp;
class CMainFrame;

// The style of the night schemes. Title bars of image windows are drawn in
// the scheme's caption colours (the stock style draws their text and buttons
// in white, which would blind the eye at the eyepiece); everything else is
// the stock style drawing with the scheme's palette.
class NightStyle final : public QProxyStyle {
public:
    explicit NightStyle(const ColorTable& values);
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

private:
    ColorTable values_;
};

// The night colour schemes: every window of the program, red on black. A
// Linux desktop has no call that recolours all programs, so the schemes
// recolour this one: its application palette reaches the main window, the
// image windows, every dialog, message box and file dialog, including those
// opened later. The user's colours are saved by the first scheme chosen and
// come back with Normal Vision and at exit.
// Set on the application object, true while a night scheme is on: widgets that
// paint fixed colours of their own take the scheme's instead.
inline constexpr const char* nightSchemeProperty = "tarviNightScheme";

class NightVision {
public:
    NightVision(CTarviApp& app, CMainFrame& mainFrame);

    void OnNightVisionDark();
    void OnNightVisionLight();
    void OnNormalVision();

    // The palette a colour table gives.
    static QPalette paletteFor(const ColorTable& values);
    static QPalette menuPaletteFor(const ColorTable& values);
    // The icon in shades of the scheme's red, by the brightness of each pixel.
    static QIcon redIcon(const QIcon& icon, const ColorTable& values);

private:
    void apply(NightScheme scheme);
    void tintIcons();
    void restoreIcons();

    CTarviApp& app_;
    CMainFrame& mainFrame_;
    QPalette savedPalette_;
    QPalette savedMenuPalette_;
    QPalette savedMenuBarPalette_;
    QPalette savedSubWindowPalette_;
    QBrush savedWorkspace_;
    QString savedStyle_;
    std::map<QAction*, QIcon> savedActionIcons_;
    QIcon savedWindowIcon_;
    QIcon savedApplicationIcon_;
};

}  // namespace tarvi
