#pragma once

#include <QBrush>
#include <QPalette>
#include <QString>

#include <optional>

#include "app/color_schemes.h"

namespace tarvi {

class CTarviApp;
class CMainFrame;

// The night colour schemes: every window of the program, red on black. A
// Linux desktop has no call that recolours all programs, so the schemes
// recolour this one: its application palette reaches the main window, the
// image windows, every dialog, message box and file dialog, including those
// opened later. The user's colours are saved by the first scheme chosen and
// come back with Normal Vision and at exit.
class NightVision {
public:
    NightVision(CTarviApp& app, CMainFrame& mainFrame);

    void OnNightVisionDark();
    void OnNightVisionLight();
    void OnNormalVision();

    // The palette a colour table gives.
    static QPalette paletteFor(const ColorTable& values);
    static QPalette menuPaletteFor(const ColorTable& values);

private:
    void apply(NightScheme scheme);

    CTarviApp& app_;
    CMainFrame& mainFrame_;
    QPalette savedPalette_;
    QPalette savedMenuPalette_;
    QPalette savedMenuBarPalette_;
    QPalette savedSubWindowPalette_;
    QBrush savedWorkspace_;
    QString savedStyle_;
};

}  // namespace tarvi
