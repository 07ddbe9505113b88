#include "platform/console_ui.h"

#include <ostream>

namespace tarvi {

namespace {

bool isBreak(char c)
{
    return c == '\n' || c == '\r';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || isBreak(c);
}

}  // namespace

std::string ConsoleUi::oneLine(std::string_view text)
{
    std::string line;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!isSpace(text[i])) {
            line += text[i++];
            continue;
        }
        std::size_t end = i;
        bool hasBreak = false;
        while (end < text.size() && isSpace(text[end])) {
            hasBreak = hasBreak || isBreak(text[end]);
            ++end;
        }
        if (!hasBreak)
            line.append(text.substr(i, end - i));
        else if (!line.empty() && end < text.size())
            line += ' ';
        i = end;
    }
    return line;
}

ConsoleUi::ConsoleUi(std::ostream& out)
    : said_([&out](const std::string& line) { out << line << '\n' << std::flush; })
{
}

Answer ConsoleUi::messageBox(std::string_view text, std::string_view caption, Buttons buttons, BoxStyle)
{
    said_(std::string(captionOrTitle(caption)) + ": " + oneLine(text));
    return safeAnswer(buttons);
}

}  // namespace tarvi
