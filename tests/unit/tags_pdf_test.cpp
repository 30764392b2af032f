// The shipped markers PDF: what the generator makes today, and, printed at 100 %, markers the
// filter's detector finds, with a scale bar of 100 mm.
#include "marker_scene.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <tuple>

#if !defined(PINVALER_SOURCE_DIR) || !defined(PINVALER_TAGS_PDF_TOOL)
#error "tags_pdf_test needs PINVALER_SOURCE_DIR and PINVALER_TAGS_PDF_TOOL"
#endif

namespace {

const std::string pdf = "'" PINVALER_SOURCE_DIR "/data/tags/pinvaler-tags-tag16h5-circle21h7.pdf'";

// What a shell command writes to its standard output; it must succeed.
std::string run(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        out += static_cast<char>(c);
    EXPECT_EQ(pipe ? pclose(pipe) : -1, 0) << command;
    return out;
}

TEST(TagsPdf, GeneratorReproducesTheCommittedFileOnTwoA4Pages) {
    EXPECT_TRUE(run("f=$(mktemp) && '" PINVALER_TAGS_PDF_TOOL "' $f && cat $f; rm -f $f") ==
                run("cat " + pdf))
        << "regenerate data/tags/ with make_tags_pdf and commit it";
    const std::string info = run("pdfinfo " + pdf);
    EXPECT_NE(info.find("Pages:           2\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Page size:       595.276 x 841.89 pts (A4)"), std::string::npos) << info;
}

// Each page at 150 dpi: exactly markers 0 and 1 of its family pass the filter's acceptance (no
// corrected bit, margin 20), with room to spare; the only dark run near 100 mm long is the bar
// (the widest marker is under 90 mm).
TEST(TagsPdf, PagesHoldMarkersAAndBAndAHundredMillimetreBar) {
    for (const tag_family_kind kind : {tag_family_kind::tag16h5, tag_family_kind::circle21h7}) {
        const std::string page = std::to_string(static_cast<int>(kind) + 1);
        SCOPED_TRACE("page " + page);
        const std::string pgm = run("pdftoppm -r 150 -gray -f " + page + " -l " + page + " " + pdf);
        int width = 0, height = 0, header = 0;
        ASSERT_EQ(std::sscanf(pgm.c_str(), "P5 %d %d 255%n", &width, &height, &header), 2);
        grey_image image(width, height, 0);
        ASSERT_EQ(pgm.size(), header + 1 + image.pixels.size());
        std::memcpy(image.pixels.data(), pgm.data() + header + 1, image.pixels.size());

        tag_detector detector(kind);
        std::multiset<int> accepted;
        for (const apriltag_detection_t &d : detector.detect(image))
            if (d.hamming == 0 && d.decision_margin >= 20.0f) {
                accepted.insert(d.id);
                EXPECT_GE(d.decision_margin, 50.0f) << "id " << d.id;
            }
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
