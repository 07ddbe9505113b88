#include "app/document_names.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tarvi {
namespace {

TEST(DocumentNames, UntitledAndAveragedTitles)
{
    EXPECT_EQ(untitledTitle(1), "Tarvi1");
    EXPECT_EQ(untitledTitle(12), "Tarvi12");
    EXPECT_EQ(averagedTitle("Tarvi3", 10), "Tarvi3AveOf10");
}

struct NameCase {
    const char* input;
    const char* expected;
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << c.input;
}

class SaveAsProposal : public ::testing::TestWithParam<NameCase> {};

TEST_P(SaveAsProposal, AppendsBmpUnlessTheFirstBmpEndsTheTitle)
{
    EXPECT_EQ(proposeSaveAsName(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Titles, SaveAsProposal,
                         ::testing::Values(NameCase{"Tarvi2", "Tarvi2.bmp"}, NameCase{"m42.bmp", "m42.bmp"},
                                           NameCase{"a.bmp.x", "a.bmp.x.bmp"},
                                           NameCase{"a.bmp.bmp", "a.bmp.bmp.bmp"},
                                           NameCase{"M42.BMP", "M42.BMP.bmp"}, NameCase{"", ".bmp"},
                                           NameCase{"m42.fit", "m42.fit.bmp"}));

struct FormatCase {
    const char* path;
    ImageFormat saveAs;
    ImageFormat read;
    ImageFormat save;
};

void PrintTo(const FormatCase& c, std::ostream* out)
{
    *out << c.path;
}

class PathFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(PathFormats, EndingsDecideTheFormat)
{
    EXPECT_EQ(saveAsFormat(GetParam().path), GetParam().saveAs);
    EXPECT_EQ(readFormat(GetParam().path), GetParam().read);
    EXPECT_EQ(saveFormat(GetParam().path), GetParam().save);
}

constexpr auto none = ImageFormat::none;
constexpr auto bmp = ImageFormat::bmp;
constexpr auto fits = ImageFormat::fits;

INSTANTIATE_TEST_SUITE_P(
    Paths, PathFormats,
    ::testing::Values(FormatCase{"shot.bmp", bmp, bmp, bmp}, FormatCase{"shot.fit", fits, fits, fits},
                      FormatCase{"shot.FIT", none, fits, fits},         // Save As is case-sensitive
                      FormatCase{"shot.bmp.fit", fits, fits, fits},
                      FormatCase{"shot.fit.bmp", bmp, bmp, bmp},
                      FormatCase{"a.bmp/shot.bmp", none, bmp, bmp},     // the first ".bmp" is not the end
                      FormatCase{"M42.FTS", none, fits, fits},
                      FormatCase{"m42.fts", none, fits, fits},
                      FormatCase{"M42.FITS", none, none, bmp},
                      FormatCase{"shot.png", none, none, bmp},
                      FormatCase{".bmp", bmp, bmp, bmp},
                      FormatCase{"bmp", none, none, bmp}));

}  // namespace
}  // namespace tarvi
