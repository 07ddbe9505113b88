// Any objects.txt: one row per line, no line end or stray blank inside a
// field, and a row written back out reads as the same row.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "telescope/catalogs.h"
#include "telescope/objects_file.h"
#include "check.h"

using tarvi::fuzz::check;

namespace {

std::size_t lineCount(std::string_view text)
{
    std::size_t lines = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", i);
        ++lines;
        if (end == std::string_view::npos)
            break;
        i = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto rows = tarvi::readObjectRows(text);
    check(rows.size() == lineCount(text));
    for (const tarvi::ObjectRow& row : rows) {
        const std::string* const words[] = {&row.name, &row.ra, &row.dec, &row.magnitude, &row.size};
        std::string written;
        bool ended = false;
        for (const std::string* word : words) {
            check(word->find_first_of(" \t\r\n") == std::string::npos);
            check(!ended || word->empty());
            ended = ended || word->empty();
            if (!word->empty())
                written += (written.empty() ? "" : " ") + *word;
        }
        check(row.otherData.find_first_of("\r\n") == std::string::npos);
        check(row.otherData.empty() || (row.otherData[0] != ' ' && row.otherData[0] != '\t'));
        check(!ended || row.otherData.empty());
        if (!row.otherData.empty())
            written += " " + row.otherData;
        check(tarvi::splitObjectLine(written) == row);

        const std::string selection = tarvi::objectSelection(row);
        check(selection.size() >= 44);
        if (row.name.size() <= 25 && row.ra.size() <= 8 && row.dec.size() <= 9) {
            check(selection.size() == 44);
            const tarvi::ListedObject listed = tarvi::listedObject(selection);
            check(listed.ra.compare(0, row.ra.size(), row.ra) == 0);
            check(listed.dec.compare(0, row.dec.size(), row.dec) == 0);
        }
    }
    return 0;
}
