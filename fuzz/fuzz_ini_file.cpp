// Any file content: reading never fails, and a value just written reads back.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = [] {
        char pattern[] = "/tmp/tarvi-fuzz-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        return std::string(dir != nullptr ? dir : "/tmp") + "/tarvi.ini";
    }();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    tarvi::IniFile ini(path);
    const std::string before = ini.readString("st4Settings150", "Values", "ERROR");
    if (before.size() > 255)
        std::abort();
    (void)ini.readString("Ports", "COM1", "");

    const std::string value = "1 2 3 4 5 6 0.500000 8";
    if (ini.writeString("st4Settings150", "Values", value + "\n").failed())
        std::abort();
    if (ini.readString("st4Settings150", "Values", "ERROR") != value)
        std::abort();
    return 0;
}
