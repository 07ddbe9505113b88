#include "app/color_schemes.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

TEST(ColorSchemes, OnlyFiveElementsAreLitAndOnlyInRed)
{
    struct Expected {
        int element;
        std::uint32_t dark;
        std::uint32_t light;
    };
    const Expected lit[] = {{2, 60, 120}, {4, 100, 200}, {5, 90, 180}, {14, 100, 200}, {15, 80, 160}};
    const ColorTable dark = nightSchemeValues(NightScheme::dark);
    const ColorTable light = nightSchemeValues(NightScheme::light);
    int litCount = 0;
    for (int i = 0; i < 256; ++i) {
        std::uint32_t wantDark = 0;
        std::uint32_t wantLight = 0;
        for (const auto& e : lit) {
            if (e.element == i) {
                wantDark = e.dark;
                wantLight = e.light;
                ++litCount;
            }
        }
        EXPECT_EQ(dark[std::size_t(i)], wantDark) << i;
        EXPECT_EQ(light[std::size_t(i)], wantLight) << i;
        EXPECT_EQ(dark[std::size_t(i)] & 0xFFFF00u, 0u) << "green or blue in element " << i;
    }
    EXPECT_EQ(litCount, 5);
    EXPECT_EQ(redOf(light[colorElement::menu]), 200);
}

}  // namespace
}  // namespace tarvi
