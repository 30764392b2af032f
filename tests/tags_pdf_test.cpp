// The shipped markers PDF: what the generator makes today, and, printed at 100 %, markers the
// filter's detector finds, with a scale bar of 100 mm.
#include "detect_picture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <tuple>
#include <vector>
#include <unistd.h>

#if !defined(PINVALER_SOURCE_DIR) || !defined(PINVALER_TAGS_PDF_TOOL)
#error "tags_pdf_test needs PINVALER_SOURCE_DIR and PINVALER_TAGS_PDF_TOOL"
#endif

namespace {

const std::string pdf = PINVALER_SOURCE_DIR "/data/tags/pinvaler-tags-tag16h5-circle21h7.pdf";
const std::string scratch =
    std::filesystem::temp_directory_path() / ("pinvaler-tags-pdf-" + std::to_string(getpid()));

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(TagsPdf, GeneratorReproducesTheCommittedFile) {
    ASSERT_EQ(std::system(("'" PINVALER_TAGS_PDF_TOOL "' '" + scratch + ".pdf'").c_str()), 0);
    EXPECT_TRUE(read_file(scratch + ".pdf") == read_file(pdf))
        << "regenerate data/tags/ with make_tags_pdf and commit it";
    std::remove((scratch + ".pdf").c_str());
}

TEST(TagsPdf, TwoA4Pages) {
    ASSERT_EQ(std::system(("pdfinfo '" + pdf + "' > '" + scratch + ".txt'").c_str()), 0);
    const std::string info = read_file(scratch + ".txt");
    std::remove((scratch + ".txt").c_str());
    EXPECT_NE(info.find("Pages:           2\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Page size:       595.276 x 841.89 pts (A4)"), std::string::npos) << info;
}

// Each page at 150 dpi: exactly markers 0 and 1 of its family pass the filter's acceptance (no
// corrected bit, margin 20) and with room to spare; the only dark run near 100 mm long is the
// bar (the widest marker is under 90 mm).
TEST(TagsPdf, PagesHoldMarkersAAndBAndAHundredMillimetreBar) {
    for (const int32_t family_kind : {tag_family_tag16h5, tag_family_circle21h7}) {
        const int page = family_kind + 1;
        SCOPED_TRACE(testing::Message() << "page " << page);
        ASSERT_EQ(std::system(("pdftoppm -r 150 -gray -singlefile -f " + std::to_string(page) +
                               " -l " + std::to_string(page) + " '" + pdf + "' '" + scratch + "'")
                                  .c_str()),
                  0);
        std::ifstream in(scratch + ".pgm", std::ios::binary);
        std::string magic;
        int width = 0, height = 0, max_value = 0;
        in >> magic >> width >> height >> max_value;
        in.get();
        gray_image image(width, height, 255);
        in.read(reinterpret_cast<char *>(image.pixels.data()),
                std::streamsize(image.pixels.size()));
        std::remove((scratch + ".pgm").c_str());
        ASSERT_TRUE(in && magic == "P5" && max_value == 255);

        apriltag_family_t *family = create_tag_family(family_kind);
        std::multiset<int> accepted;
        {
            const detected_tags found(family, image);
            for (const apriltag_detection_t *d : found.all())
                if (d->hamming == 0 && d->decision_margin >= 20.0f) {
                    accepted.insert(d->id);
                    EXPECT_GE(d->decision_margin, 50.0f) << "id " << d->id;
                }
        }
        destroy_tag_family(family, family_kind);
        EXPECT_EQ(accepted, (std::multiset<int>{0, 1}));

        const double bar_pixels = 100.0 / 25.4 * 150.0;
        std::vector<std::tuple<int, int, int>> bar; // rows whose longest dark run is bar-like
        for (int y = 0; y < height; ++y) {
            int start = 0, end = 0;
            for (int x = 0, from = 0; x <= width; ++x)
                if (x == width || image.at(x, y) >= 128) {
                    if (x - from > end - start)
                        start = from, end = x;
                    from = x + 1;
                }
            if (end - start > 0.8 * bar_pixels)
                bar.emplace_back(y, start, end);
        }
        EXPECT_GE(bar.size(), 15u) << "one solid bar, 4 mm tall";
        EXPECT_LE(bar.size(), 30u);
        ASSERT_FALSE(bar.empty());
        // Ink along the middle bar row, partly covered edge pixels counted in part.
        const auto [y, start, end] = bar[bar.size() / 2];
        double length = 0.0;
        for (int x = std::max(0, start - 3); x < std::min(width, end + 3); ++x)
            length += (255.0 - image.at(x, y)) / 255.0;
        EXPECT_NEAR(length, bar_pixels, 2.0);
    }
}

} // namespace
