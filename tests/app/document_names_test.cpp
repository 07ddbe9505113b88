#include "app/document_names.h"

#include <gtest/gtest.h>

namespace tarvi {
namespace {

// Save As wants ".bmp" or ".fit" as the first such ending, case-sensitive;
// reading and saving go by the last four characters in any case.
TEST(DocumentNames, EndingsDecideTheFormatAndTheProposedName)
{
    constexpr auto none = ImageFormat::none, bmp = ImageFormat::bmp, fits = ImageFormat::fits;
    const struct {
        const char* path;
        ImageFormat saveAs, read, save;
        const char* proposal;
    } cases[] = {
        {"shot.bmp", bmp, bmp, bmp, "shot.bmp"},
        {"shot.fit", fits, fits, fits, "shot.fit.bmp"},
        {"shot.FIT", none, fits, fits, "shot.FIT.bmp"},
        {"shot.bmp.fit", fits, fits, fits, "shot.bmp.fit.bmp"},
        {"shot.fit.bmp", bmp, bmp, bmp, "shot.fit.bmp"},
        {"a.bmp/shot.bmp", none, bmp, bmp, "a.bmp/shot.bmp.bmp"},
        {"a.bmp.x", none, none, bmp, "a.bmp.x.bmp"},
        {"M42.FTS", none, fits, fits, "M42.FTS.bmp"},
        {"m42.fts", none, fits, fits, "m42.fts.bmp"},
        {"M42.FITS", none, none, bmp, "M42.FITS.bmp"},
        {"M42.BMP", none, bmp, bmp, "M42.BMP.bmp"},
        {".bmp", bmp, bmp, bmp, ".bmp"},
        {"bmp", none, none, bmp, "bmp.bmp"},
        {"", none, none, bmp, ".bmp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(saveAsFormat(c.path), c.saveAs) << c.path;
        EXPECT_EQ(readFormat(c.path), c.read) << c.path;
        EXPECT_EQ(saveFormat(c.path), c.save) << c.path;
        EXPECT_EQ(proposeSaveAsName(c.path), c.proposal) << c.path;
    }
}

}  // namespace
}  // namespace tarvi
