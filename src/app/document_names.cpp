#include "app/document_names.h"

#include <algorithm>

namespace tarvi {

namespace {

bool firstOccurrenceEnds(std::string_view text, std::string_view ending)
{
    const auto at = text.find(ending);
    return at != std::string_view::npos && at + ending.size() == text.size();
}

std::string lowered(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
    return result;
}

}  // namespace

std::string untitledTitle(int number)
{
    return "Tarvi" + std::to_string(number);
}

std::string averagedTitle(std::string_view title, int frameCount)
{
    return std::string(title) + "AveOf" + std::to_string(frameCount);
}

std::string proposeSaveAsName(std::string_view title)
{
    std::string name(title);
    if (!firstOccurrenceEnds(name, ".bmp"))
        name += ".bmp";
    return name;
}

ImageFormat saveAsFormat(std::string_view path)
{
    if (firstOccurrenceEnds(path, ".bmp"))
        return ImageFormat::bmp;
    if (firstOccurrenceEnds(path, ".fit"))
        return ImageFormat::fits;
    return ImageFormat::none;
}

ImageFormat readFormat(std::string_view path)
{
    if (path.size() < 4)
        return ImageFormat::none;
    const std::string ending = lowered(path.substr(path.size() - 4));
    if (ending == ".bmp")
        return ImageFormat::bmp;
    if (ending == ".fit" || ending == ".fts")
        return ImageFormat::fits;
    return ImageFormat::none;
}

ImageFormat saveFormat(std::string_view path)
{
    return readFormat(path) == ImageFormat::fits ? ImageFormat::fits : ImageFormat::bmp;
}

}  // namespace tarvi
