#include "sim/sky.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace tarvi::sim {
namespace {

// The field wraps around, so that a night of drift never empties the frame.
double wrapped(double d, double period)
{
    d = std::fmod(d, period);
    if (d >= period / 2)
        d -= period;
    else if (d < -period / 2)
        d += period;
    return d;
}

}  // namespace

Sky::Sky(const SkyOptions& options) : options_(options)
{
    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    for (int i = 0; i < options.starCount; ++i) {
        Star star{};
        star.x = unit(random) * skyWidth;
        star.y = unit(random) * skyHeight;
        star.peak = 15.0 * std::pow(16.0, unit(random));
        star.sigma = 1.0 + 0.8 * unit(random);
        stars_.push_back(star);
    }
    planetX_ = skyWidth * (0.3 + 0.4 * unit(random));
    planetY_ = skyHeight * (0.3 + 0.4 * unit(random));
    planetRadius_ = 24.0 + 10.0 * unit(random);
    planetBrightness_ = 40.0 + 40.0 * unit(random);

    const double angle = 2 * std::numbers::pi * unit(random);
    driftX_ = options.driftPerSecond * std::cos(angle);
    driftY_ = options.driftPerSecond * std::sin(angle);

    darkRate_.resize(skyPixels);
    for (auto& rate : darkRate_) {
        const bool hot = unit(random) < options.hotPixelFraction;
        const double factor = hot ? 10.0 + 50.0 * unit(random) : 0.85 + 0.3 * unit(random);
        rate = static_cast<float>(options.darkCurrent * factor);
    }
}

double Sky::light(double x, double y, double dx, double dy) const
{
    double sum = options_.skyGlow;
    if (options_.scene == SkyOptions::Scene::stars) {
        for (const auto& star : stars_) {
            const double ex = wrapped(x - star.x - dx, skyWidth);
            const double ey = wrapped(y - star.y - dy, skyHeight);
            const double r2 = ex * ex + ey * ey;
            if (r2 < 36 * star.sigma * star.sigma)
                sum += star.peak * std::exp(-r2 / (2 * star.sigma * star.sigma));
        }
        return sum;
    }
    const double ex = wrapped(x - planetX_ - dx, skyWidth);
    const double ey = wrapped(y - planetY_ - dy, skyHeight);
    const double r = std::sqrt(ex * ex + ey * ey);
    const double cover = std::clamp(planetRadius_ + 0.5 - r, 0.0, 1.0);
    if (cover > 0) {
        const double mu = std::sqrt(std::max(0.0, 1.0 - (r * r) / (planetRadius_ * planetRadius_)));
        const double limb = 0.4 + 0.6 * mu;
        const double bands = 1.0 - 0.25 * std::pow(std::cos(ey / planetRadius_ * 5.0), 8.0);
        sum += cover * planetBrightness_ * limb * bands;
    }
    return sum;
}

std::vector<float> Sky::expose(double skyTime, double exposureSeconds, bool shutterOpen, std::uint64_t exposureNumber) const
{
    std::mt19937_64 random(options_.seed ^ (0x9E3779B97F4A7C15ULL * (exposureNumber + 1)));
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double t = std::max(exposureSeconds, 0.0);
    const double dx = driftX_ * skyTime;
    const double dy = driftY_ * skyTime;
    const double readNoise2 = options_.readNoise * options_.readNoise;

    std::vector<float> charge(skyPixels);
    for (int y = 0; y < skyHeight; ++y) {
        for (int x = 0; x < skyWidth; ++x) {
            const int i = y * skyWidth + x;
            double signal = darkRate_[i] * t;
            if (shutterOpen)
                signal += light(x, y, dx, dy) * t;
            double variance = readNoise2;
            if (options_.electronsPerAdu > 0)
                variance += signal / options_.electronsPerAdu;
            const double noise = variance > 0 ? std::sqrt(variance) * gauss(random) : 0.0;
            charge[i] = static_cast<float>(options_.bias + signal + noise);
        }
    }
    return charge;
}

std::vector<std::uint8_t> digitize(const std::vector<float>& charge, std::uint8_t gain, std::uint8_t baseline)
{
    const double amplification = 255.0 / std::max<int>(gain, 1);
    std::vector<std::uint8_t> frame(charge.size());
    for (std::size_t i = 0; i < charge.size(); ++i) {
        const double v = std::round(charge[i] * amplification) + baseline;
        frame[i] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
    }
    return frame;
}

std::vector<std::uint8_t> smooth(const std::vector<std::uint8_t>& frame)
{
    std::vector<std::uint8_t> out(frame.size());
    const auto at = [&](int x, int y) {
        x = std::clamp(x, 0, skyWidth - 1);
        y = std::clamp(y, 0, skyHeight - 1);
        return static_cast<int>(frame[y * skyWidth + x]);
    };
    for (int y = 0; y < skyHeight; ++y) {
        for (int x = 0; x < skyWidth; ++x) {
            const int sum = at(x - 1, y - 1) + 2 * at(x, y - 1) + at(x + 1, y - 1) + 2 * at(x - 1, y) + 4 * at(x, y)
                            + 2 * at(x + 1, y) + at(x - 1, y + 1) + 2 * at(x, y + 1) + at(x + 1, y + 1);
            out[y * skyWidth + x] = static_cast<std::uint8_t>((sum + 8) / 16);
        }
    }
    return out;
}

}  // namespace tarvi::sim
