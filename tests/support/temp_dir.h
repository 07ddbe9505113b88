#pragma once

#include <string>
#include <vector>

namespace tarvi::test {

// A fresh directory under the system's temporary directory, removed with all
// it holds when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// The names in a directory, sorted.
std::vector<std::string> namesIn(const std::string& directory);

}  // namespace tarvi::test
