// The shipped markers PDF: it matches what the generator makes today, and printed at 100 % its
// markers are found by the detector with the filter's own settings, at the sizes the page states.

#include <apriltag/apriltag.h>
#include <apriltag/tag16h5.h>
#include <apriltag/tagCircle21h7.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if !defined(PINVALER_SOURCE_DIR) || !defined(PINVALER_TAGS_PDF_TOOL)
#error "tags_pdf_test needs PINVALER_SOURCE_DIR and PINVALER_TAGS_PDF_TOOL"
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kDpi = 150;
constexpr double kMmPerPixel = 25.4 / kDpi;
constexpr double kScaleBarPixels = 100.0 / kMmPerPixel; // 590.55

fs::path committed_pdf() {
    return fs::path(PINVALER_SOURCE_DIR) / "data/tags/pinvaler-tags-tag16h5-circle21h7.pdf";
}

struct CommandResult {
    int exit_code = -1;
    std::string output;
};

std::string quoted(const std::string &text) {
    std::string result = "'";
    for (char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

CommandResult run(const std::string &command) {
    CommandResult result;
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, count);
    }
    const int status = pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool have_program(const char *name) {
    return run(std::string("command -v ") + name + " >/dev/null").exit_code == 0;
}

std::string read_bytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
    uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Binary PGM as pdftoppm writes it: "P5", width, height, maxval 255, one whitespace, pixels.
bool read_pgm(const fs::path &path, GreyImage &image) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int max_value = 0;
    in >> magic >> image.width >> image.height >> max_value;
    if (!in || magic != "P5" || max_value != 255 || image.width <= 0 || image.height <= 0) {
        return false;
    }
    in.get();
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    in.read(reinterpret_cast<char *>(image.pixels.data()),
            static_cast<std::streamsize>(image.pixels.size()));
    return static_cast<bool>(in);
}

struct FoundTag {
    int id = 0;
    int hamming = 0;
    double decision_margin = 0.0;
    double centre_x = 0.0;
    double centre_y = 0.0;
    double mean_side_px = 0.0; // of the quad the detector reports
};

struct PageCase {
    int page;
    const char *family_name;
    apriltag_family_t *(*create)();
    void (*destroy)(apriltag_family_t *);
};

const PageCase kPageCases[] = {
    {1, "tag16h5", tag16h5_create, tag16h5_destroy},
    {2, "tagCircle21h7", tagCircle21h7_create, tagCircle21h7_destroy},
};

// The filter's fixed detector settings; everything else as the library creates it.
std::vector<FoundTag> detect(const PageCase &page_case, GreyImage &image, double &quad_to_side) {
    apriltag_family_t *family = page_case.create();
    apriltag_detector_t *detector = apriltag_detector_create();
    apriltag_detector_add_family(detector, family);
    detector->nthreads = 2;
    detector->quad_decimate = 1.0f;
    detector->quad_sigma = 0.0f;
    detector->refine_edges = false;
    detector->decode_sharpening = 0.25;
    detector->qtp.deglitch = 0;

    // The detector's quad is the border at width_at_border; circle families put the black
    // square two modules wider, around it.
    const int black_square = family->width_at_border + (family->reversed_border ? 2 : 0);
    quad_to_side = static_cast<double>(black_square) / family->width_at_border;

    image_u8_t frame{image.width, image.height, image.width, image.pixels.data()};
    zarray_t *detections = apriltag_detector_detect(detector, &frame);
    std::vector<FoundTag> found;
    for (int i = 0; i < zarray_size(detections); ++i) {
        apriltag_detection_t *detection = nullptr;
        zarray_get(detections, i, &detection);
        FoundTag tag;
        tag.id = detection->id;
        tag.hamming = detection->hamming;
        tag.decision_margin = detection->decision_margin;
        tag.centre_x = detection->c[0];
        tag.centre_y = detection->c[1];
        for (int corner = 0; corner < 4; ++corner) {
            const double *a = detection->p[corner];
            const double *b = detection->p[(corner + 1) % 4];
            tag.mean_side_px += std::hypot(b[0] - a[0], b[1] - a[1]) / 4.0;
        }
        found.push_back(tag);
    }
    apriltag_detections_destroy(detections);
    apriltag_detector_destroy(detector);
    page_case.destroy(family);
    return found;
}

// The marker sizes the page text states, in the order they appear.
std::vector<double> stated_marker_sides_mm(const std::string &page_text) {
    static const std::string label = "Marker side: ";
    std::vector<double> sides;
    for (size_t at = page_text.find(label); at != std::string::npos;
         at = page_text.find(label, at + 1)) {
        double mm = 0.0;
        char unit[3] = {};
        if (std::sscanf(page_text.c_str() + at + label.size(), "%lf %2s", &mm, unit) == 2 &&
            std::string(unit) == "mm")
            sides.push_back(mm);
    }
    return sides;
}

struct ScaleBar {
    int rows = 0;           // rows whose longest dark run is bar-like
    double length_px = 0.0; // ink along the middle such row, partial edge pixels counted
};

// Only the bar has a dark run anywhere near 100 mm; the widest marker row is under 90 mm.
ScaleBar measure_scale_bar(const GreyImage &image) {
    std::vector<int> bar_rows;
    std::vector<std::pair<int, int>> runs;
    for (int y = 0; y < image.height; ++y) {
        int best_start = 0;
        int best_length = 0;
        int x = 0;
        while (x < image.width) {
            if (image.at(x, y) >= 128) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < image.width && image.at(x, y) < 128) {
                ++x;
            }
            if (x - start > best_length) {
                best_start = start;
                best_length = x - start;
            }
        }
        if (best_length > 0.8 * kScaleBarPixels) {
            bar_rows.push_back(y);
            runs.emplace_back(best_start, best_start + best_length);
        }
    }
    ScaleBar bar;
    bar.rows = static_cast<int>(bar_rows.size());
    if (bar_rows.empty()) {
        return bar;
    }
    const size_t middle = bar_rows.size() / 2;
    const int y = bar_rows[middle];
    const int from = std::max(0, runs[middle].first - 3);
    const int to = std::min(image.width, runs[middle].second + 3);
    for (int x = from; x < to; ++x) {
        bar.length_px += (255.0 - image.at(x, y)) / 255.0;
    }
    return bar;
}

class TagsPdfTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        work_dir_ = fs::temp_directory_path() / ("pinvaler-tags-pdf-" + std::to_string(getpid()));
        fs::create_directories(work_dir_);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(work_dir_, ignored);
    }
    void SetUp() override {
        for (const char *program : {"pdfinfo", "pdftoppm", "pdftotext"}) {
            if (!have_program(program)) {
                GTEST_SKIP() << program << " not found (Debian package poppler-utils)";
            }
        }
        ASSERT_TRUE(fs::exists(committed_pdf())) << committed_pdf();
    }

    static bool rasterise(int page, GreyImage &image) {
        const fs::path prefix = work_dir_ / ("page" + std::to_string(page));
        const CommandResult result =
            run("pdftoppm -r " + std::to_string(kDpi) + " -gray -f " + std::to_string(page) +
                " -l " + std::to_string(page) + " -singlefile " + quoted(committed_pdf().string()) +
                " " + quoted(prefix.string()));
        EXPECT_EQ(result.exit_code, 0) << result.output;
        return result.exit_code == 0 && read_pgm(prefix.string() + ".pgm", image);
    }

    static std::string page_text(int page) {
        const std::string page_arg = std::to_string(page);
        const CommandResult result = run("pdftotext -f " + page_arg + " -l " + page_arg + " " +
                                         quoted(committed_pdf().string()) + " -");
        EXPECT_EQ(result.exit_code, 0) << result.output;
        return result.output;
    }

    static fs::path work_dir_;
};

fs::path TagsPdfTest::work_dir_;

TEST_F(TagsPdfTest, GeneratorReproducesTheCommittedFileByteForByte) {
    const fs::path fresh = work_dir_ / "fresh.pdf";
    const CommandResult result = run(quoted(PINVALER_TAGS_PDF_TOOL) + " " + quoted(fresh.string()));
    ASSERT_EQ(result.exit_code, 0) << result.output;
    const std::string expected = read_bytes(committed_pdf());
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(read_bytes(fresh) == expected)
        << "regenerate data/tags/ with make_tags_pdf and commit it";
}

TEST_F(TagsPdfTest, HasTwoA4Pages) {
    const CommandResult info = run("pdfinfo " + quoted(committed_pdf().string()));
    ASSERT_EQ(info.exit_code, 0) << info.output;
    int pages = 0;
    double width_pt = 0.0, height_pt = 0.0;
    const size_t pages_at = info.output.find("Pages:");
    const size_t size_at = info.output.find("Page size:");
    ASSERT_NE(pages_at, std::string::npos) << info.output;
    ASSERT_NE(size_at, std::string::npos) << info.output;
    ASSERT_EQ(std::sscanf(info.output.c_str() + pages_at, "Pages: %d", &pages), 1);
    ASSERT_EQ(std::sscanf(info.output.c_str() + size_at, "Page size: %lf x %lf pts", &width_pt,
                          &height_pt),
              2)
        << info.output;
    EXPECT_EQ(pages, 2);
    EXPECT_NEAR(width_pt, 595.276, 0.01);
    EXPECT_NEAR(height_pt, 841.890, 0.01);
    EXPECT_NE(info.output.find("(A4)"), std::string::npos) << info.output;
}

TEST_F(TagsPdfTest, EachPageHoldsMarkersAAndBOfItsFamilyAtTheStatedSize) {
    for (const PageCase &page_case : kPageCases) {
        SCOPED_TRACE(page_case.family_name);
        GreyImage image;
        ASSERT_TRUE(rasterise(page_case.page, image));
        double quad_to_side = 0.0;
        const std::vector<FoundTag> found = detect(page_case, image, quad_to_side);

        // The filter accepts only exact decodes with a margin of at least 20: glyphs of the page
        // text can pass for tag16h5 codes with corrected bits, which it rejects.
        std::vector<FoundTag> accepted;
        for (const FoundTag &tag : found) {
            if (tag.hamming == 0 && tag.decision_margin >= 20.0) {
                accepted.push_back(tag);
            }
        }
        ASSERT_EQ(accepted.size(), 2u);
        const std::multiset<int> ids{accepted[0].id, accepted[1].id};
        EXPECT_EQ(ids, (std::multiset<int>{0, 1}));
        for (const FoundTag &tag : accepted) {
            EXPECT_GE(tag.decision_margin, 50.0) << "id " << tag.id;
        }

        // A sits at the top left and B at the bottom right, as the page advises placing them.
        const FoundTag &a = accepted[0].id == 0 ? accepted[0] : accepted[1];
        const FoundTag &b = accepted[0].id == 0 ? accepted[1] : accepted[0];
        EXPECT_LT(a.centre_x, b.centre_x);
        EXPECT_LT(a.centre_y, b.centre_y);

        const std::vector<double> stated = stated_marker_sides_mm(page_text(page_case.page));
        ASSERT_EQ(stated.size(), 2u) << "one size beside each marker";
        EXPECT_GE(stated[0], 60.0);
        for (size_t i = 0; i < 2; ++i) {
            const FoundTag &tag = i == 0 ? a : b;
            const double measured_mm = tag.mean_side_px * quad_to_side * kMmPerPixel;
            EXPECT_NEAR(measured_mm, stated[i], 0.5) << "id " << tag.id;
        }
    }
}

TEST_F(TagsPdfTest, ScaleBarIsOneHundredMillimetres) {
    for (const PageCase &page_case : kPageCases) {
        SCOPED_TRACE(page_case.family_name);
        GreyImage image;
        ASSERT_TRUE(rasterise(page_case.page, image));
        const ScaleBar bar = measure_scale_bar(image);
        EXPECT_GE(bar.rows, 15) << "one solid bar, 4 mm tall";
        EXPECT_LE(bar.rows, 30);
        EXPECT_NEAR(bar.length_px, kScaleBarPixels, 2.0);
        EXPECT_NE(page_text(page_case.page).find("100 mm"), std::string::npos);
    }
}

} // namespace
