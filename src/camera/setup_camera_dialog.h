#pragma once

#include <QList>

#include "platform/data_exchange.h"

class QAbstractButton;
class QCheckBox;
class QLineEdit;
class QWidget;

namespace tarvi {

class CTarviApp;

// The exposure and image-processing fields of st4Settings. The dialog only
// edits its members; what OK sets off is OnSetupCamera's business.
class setupCamera final : public ExchangeDialog {
    Q_OBJECT
public:
    static constexpr float shortestExposure = 0.01f;
    static constexpr float longestExposure = 600.0f;
    static constexpr int longestDelay = 99;
    static constexpr int largestLevel = 255;

    explicit setupCamera(Ui& ui, QWidget* parent = nullptr);

    int antiBloom = 0;
    int smoothImage = 0;
    int subtractDarkFrame = 0;
    int operationsInPC = 0;
    int useCompression = 0;
    int cameraGain = 0;  // 0 = 1x .. 3 = 4x
    float exposureTime = 0.0f;
    int exposureDelay = 0;
    int baselineLevel = 0;
    int subtractionConstant = 0;
    // Kept apart from the settings line, in tarvi.ini's [FITS] section.
    int observationKeywords = 0;

    QCheckBox* observationKeywordsBox() const { return observationKeywordsBox_; }

protected:
    void doDataExchange(DataExchange& exchange) override;

private:
    QCheckBox* operationsInPCBox_;
    QCheckBox* observationKeywordsBox_;
    QLineEdit* exposureTimeEdit_;
    QLineEdit* exposureDelayEdit_;
    QLineEdit* baselineLevelEdit_;
    QLineEdit* subtractionConstantEdit_;
    QCheckBox* antiBloomBox_;
    QCheckBox* smoothImageBox_;
    QCheckBox* subtractDarkFrameBox_;
    QCheckBox* useCompressionBox_;
    QList<QAbstractButton*> gainButtons_;
};

// Setup > Camera: nothing changes unless OK is pressed with every field
// accepted; then the settings go to the camera (connecting it first if need
// be) and are saved, even when the camera cannot be reached.
void OnSetupCamera(CTarviApp& app, QWidget* parent);

}  // namespace tarvi
