#pragma once

// Shared by the tests of the image readers and writers.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

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

// A write that must fail: with a box of this text and caption (none when the
// text is empty), under a file size limit (0: none), leaving the part
// written on disk (checked when not 0).
struct WriteFailure {
    std::string path;
    rlim_t sizeLimit = 0;
    std::string text;
    std::string caption;
    std::uint64_t bytesLeft = 0;
};

// Each case writes the grey picture with write (bmp::writeBmp or
// bmp::writeFits) and must get 0.
inline void expectWriteFailures(const std::vector<std::uint8_t>& gray, int width, int height,
                                int (bmp::*write)(const std::string&), const std::vector<WriteFailure>& cases)
{
    for (const auto& c : cases) {
        FakeUi ui;
        bmp image(ui);
        image.createFromGray(gray.data(), width, height);
        int result = -1;
        {
            std::optional<FileSizeLimit> limit;
            if (c.sizeLimit != 0)
                limit.emplace(c.sizeLimit);
            result = (image.*write)(c.path);
        }
        EXPECT_EQ(result, 0) << c.path;
        if (!c.text.empty())
            expectOneBox(ui, c.text, c.caption);
        EXPECT_EQ(ui.boxes.size(), c.text.empty() ? 0u : 1u) << c.path;
        EXPECT_TRUE(c.bytesLeft == 0 || readFile(c.path).size() == c.bytesLeft) << c.path;
    }
}

}  // namespace tarvi::test
