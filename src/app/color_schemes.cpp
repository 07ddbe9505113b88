#include "app/color_schemes.h"

namespace tarvi {

ColorTable nightSchemeValues(NightScheme scheme)
{
    ColorTable values{};
    const bool light = scheme == NightScheme::light;
    values[colorElement::activeCaption] = light ? 120 : 60;
    values[colorElement::menu] = light ? 200 : 100;
    values[colorElement::window] = light ? 180 : 90;
    values[colorElement::highlightText] = light ? 200 : 100;
    values[colorElement::buttonFace] = light ? 160 : 80;
    return values;
}

}  // namespace tarvi
