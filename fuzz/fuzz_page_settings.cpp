// Any "Values=" line of LX200P0.ini: the park state reads as 0 or 1, and what
// the page writes back reads back as the same settings.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "telescope/motion_rules.h"
#include "check.h"

using tarvi::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const tarvi::motion::PageSettings kept{1, 2};
    const tarvi::motion::PageSettings read = tarvi::motion::parsePageSettings(line, kept);
    check(read.parked == 0 || read.parked == 1);
    const tarvi::motion::PageSettings again =
        tarvi::motion::parsePageSettings(tarvi::motion::formatPageSettings(read), {0, 4});
    check(again.parked == read.parked && again.focusSpeed == read.focusSpeed);
    return 0;
}
