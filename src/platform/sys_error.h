#pragma once

#include <string>

namespace tarvi {

// The outcome of a call into the operating system: an errno value, 0 when the
// call succeeded. text() is the system's own wording of the error.
class SysError {
public:
    SysError() = default;
    explicit SysError(int code) : code_(code) {}

    static SysError fromErrno();

    bool failed() const { return code_ != 0; }
    int code() const { return code_; }
    std::string text() const;

private:
    int code_ = 0;
};

}  // namespace tarvi
