#pragma once

#include <cstdint>
#include <vector>

namespace tarvi::sim {

inline constexpr int skyWidth = 192;
inline constexpr int skyHeight = 165;
inline constexpr int skyPixels = skyWidth * skyHeight;

// Light and charge in ADU as the converter would see them at the lowest gain.
struct SkyOptions {
    enum class Scene { stars, planet };
    Scene scene = Scene::stars;
    int starCount = 7;
    double skyGlow = 1.5;             // per second, everywhere
    double bias = 14.0;               // the converter's zero, every frame
    double darkCurrent = 0.4;         // per second in an ordinary pixel
    double hotPixelFraction = 0.003;  // pixels whose dark current is many times higher
    double readNoise = 1.2;           // rms, every frame
    double electronsPerAdu = 2.0;     // sets the photon noise; 0 for none
    double driftPerSecond = 0.02;     // pixels the field moves per second of sky time
    std::uint32_t seed = 1;
};

// A patch of sky and the chip looking at it. The field, the hot pixels and the
// direction of drift follow from the seed; the noise of an exposure follows
// from the seed and the exposure's number, so the same calls give the same
// frames.
class Sky {
public:
    explicit Sky(const SkyOptions& options);

    // The charge read out after `exposureSeconds`, row 0 first, for an exposure
    // that ends `skyTime` seconds after the sky's start. With the shutter shut
    // it is bias, dark current and noise only.
    std::vector<float> expose(double skyTime, double exposureSeconds, bool shutterOpen, std::uint64_t exposureNumber) const;

private:
    struct Star {
        double x;
        double y;
        double peak;  // per second
        double sigma;
    };

    double light(double x, double y, double dx, double dy) const;

    SkyOptions options_;
    std::vector<Star> stars_;
    double planetX_ = 0;
    double planetY_ = 0;
    double planetRadius_ = 0;
    double planetBrightness_ = 0;
    double driftX_ = 0;  // per second
    double driftY_ = 0;
    std::vector<float> darkRate_;  // per pixel, per second
};

// The camera's electronics after the chip: the gain byte divides 255 into the
// amplification (255 is 1x, 127 about 2x, 85 3x, 63 about 4x), the baseline
// lifts the result, and the converter clips to 8 bits.
std::vector<std::uint8_t> digitize(const std::vector<float>& charge, std::uint8_t gain, std::uint8_t baseline);

// The 3 x 3 binomial smoothing the camera applies on request; edge pixels
// repeat outward.
std::vector<std::uint8_t> smooth(const std::vector<std::uint8_t>& frame);

}  // namespace tarvi::sim
