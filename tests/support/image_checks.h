#pragma once

// Shared by the tests of the image readers and writers.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>

#include "support/fake_ui.h"

namespace tarvi::test {

// Exactly one OK box with this text and caption, and no owner window.
inline void expectOneBox(const FakeUi& ui, const std::string& text, const std::string& caption)
{
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, text);
    EXPECT_EQ(ui.boxes[0].caption, caption);
    EXPECT_EQ(ui.boxes[0].buttons, Buttons::ok);
    EXPECT_TRUE(ui.boxes[0].style.noOwner);
}

// Writes beyond the given size fail with EFBIG while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace tarvi::test
