// Writes the printable markers sheet shipped in data/tags/: one A4 page per tag family, each with
// marker A (id 0) and marker B (id 1) drawn as vector squares from the detector library's own
// images, a 100 mm scale bar and printing advice. Same bytes on every run, so the committed file
// can be checked against a fresh build.
//
// Usage: make_tags_pdf OUTPUT.pdf

#include <apriltag/apriltag.h>
#include <apriltag/tag16h5.h>
#include <apriltag/tagCircle21h7.h>

#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr double kPageWidthMm = 210.0;
constexpr double kPageHeightMm = 297.0;

// Everything inked stays in this box. An A4 page printed at 100 % on US Letter (279.4 mm tall)
// loses 8.8 mm at top and bottom when centred, or 17.6 mm at the bottom when top-aligned; the box
// keeps at least 12 mm clear of the paper edge either way.
constexpr double kBoxLeftMm = 12.0;
constexpr double kBoxRightMm = 198.0;
constexpr double kBoxTopMm = 21.0;
constexpr double kBoxBottomMm = 267.0;

constexpr double kMarkersTopMm = 50.0;
constexpr double kMarkersBottomMm = 216.0;
constexpr double kScaleBarLengthMm = 100.0;
constexpr double kScaleBarHeightMm = 4.0;

// Fixed dates keep the file byte-identical between runs.
constexpr const char *kFixedDate = "2024-01-01T00:00:00Z";

// Loaded by path rather than through fontconfig, so the output does not depend on which other
// fonts a machine has. Both files come with Debian's fonts-dejavu-core.
constexpr const char *kRegularFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char *kBoldFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

struct FamilyPage {
    const char *family_name;  // as the detector library calls it
    const char *setting_name; // as the filter's family list shows it
    apriltag_family_t *(*create)();
    void (*destroy)(apriltag_family_t *);
    double marker_side_mm; // outer edge of the black square
};

const FamilyPage kPages[] = {
    {"tag16h5", "tag16h5", tag16h5_create, tag16h5_destroy, 72.0},
    {"tagCircle21h7", "circle21h7", tagCircle21h7_create, tagCircle21h7_destroy, 66.0},
};

// A marker as a grid of modules, true where the module is dark.
struct ModuleGrid {
    int size = 0;
    std::vector<bool> dark;
    bool at(int x, int y) const { return dark[static_cast<size_t>(y * size + x)]; }
};

// Where the marker's ink can be, in modules of its grid: the black square and every data bit.
struct InkExtent {
    int first = 0;
    int count = 0;
};

int black_square_modules(const apriltag_family_t &family) {
    return family.width_at_border + (family.reversed_border ? 2 : 0);
}

// Modules that belong to the marker: the black square with everything inside it, and the data
// bits (which circle families place outside the square).
std::vector<bool> meaningful_modules(const apriltag_family_t &family) {
    const int size = family.total_width;
    const int square = black_square_modules(family);
    const int square_first = (size - square) / 2;
    const int bit_offset = (size - family.width_at_border) / 2;
    std::vector<bool> meaningful(static_cast<size_t>(size * size), false);
    for (int y = square_first; y < square_first + square; ++y) {
        for (int x = square_first; x < square_first + square; ++x) {
            meaningful[static_cast<size_t>(y * size + x)] = true;
        }
    }
    for (uint32_t i = 0; i < family.nbits; ++i) {
        const int x = static_cast<int>(family.bit_x[i]) + bit_offset;
        const int y = static_cast<int>(family.bit_y[i]) + bit_offset;
        meaningful[static_cast<size_t>(y * size + x)] = true;
    }
    return meaningful;
}

InkExtent ink_extent(const apriltag_family_t &family) {
    const int size = family.total_width;
    const std::vector<bool> meaningful = meaningful_modules(family);
    int first = size;
    int last = -1;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (meaningful[static_cast<size_t>(y * size + x)]) {
                first = std::min(first, std::min(x, y));
                last = std::max(last, std::max(x, y));
            }
        }
    }
    return {first, last - first + 1};
}

// The library's image leaves the modules outside a circle marker at 0 (black); they are not part
// of the marker and must print white, as part of the quiet zone.
bool marker_grid(apriltag_family_t *family, int id, ModuleGrid &grid) {
    image_u8_t *image = apriltag_to_image(family, static_cast<uint32_t>(id));
    if (image == nullptr) {
        return false;
    }
    const int size = family->total_width;
    const std::vector<bool> meaningful = meaningful_modules(*family);
    grid.size = size;
    grid.dark.assign(static_cast<size_t>(size * size), false);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const size_t index = static_cast<size_t>(y * size + x);
            grid.dark[index] = meaningful[index] && image->buf[y * image->stride + x] < 128;
        }
    }
    // Debian's library does not export image_u8_destroy.
    free(image->buf);
    free(image);
    return true;
}

double pt(double mm) {
    return mm * kPointsPerMm;
}

// One path for the whole marker, horizontal runs merged, filled once: adjacent modules share exact
// edges, so no viewer shows hairline seams between them.
void draw_marker(cairo_t *cr, const ModuleGrid &grid, double left_mm, double top_mm,
                 double module_mm) {
    cairo_new_path(cr);
    for (int y = 0; y < grid.size; ++y) {
        int x = 0;
        while (x < grid.size) {
            if (!grid.at(x, y)) {
                ++x;
                continue;
            }
            const int run_start = x;
            while (x < grid.size && grid.at(x, y)) {
                ++x;
            }
            const double x0 = pt(left_mm + run_start * module_mm);
            const double x1 = pt(left_mm + x * module_mm);
            const double y0 = pt(top_mm + y * module_mm);
            const double y1 = pt(top_mm + (y + 1) * module_mm);
            cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
        }
    }
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr);
}

struct Fonts {
    cairo_font_face_t *regular = nullptr;
    cairo_font_face_t *bold = nullptr;
};

enum class Align { left, right };

struct TextStyle {
    cairo_font_face_t *face;
    double size_pt;
};

// Draws one line with its baseline at y; fails when any of it would leave the inked box.
bool draw_text(cairo_t *cr, const TextStyle &style, const std::string &text, double x_mm,
               double baseline_mm, Align align) {
    cairo_set_font_face(cr, style.face);
    cairo_set_font_size(cr, style.size_pt);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    double x = pt(x_mm);
    if (align == Align::right) {
        x -= extents.x_advance;
    }
    const double y = pt(baseline_mm);
    const double ink_left = x + extents.x_bearing;
    const double ink_right = ink_left + extents.width;
    const double ink_top = y + extents.y_bearing;
    const double ink_bottom = ink_top + extents.height;
    if (ink_left < pt(kBoxLeftMm) || ink_right > pt(kBoxRightMm) || ink_top < pt(kBoxTopMm) ||
        ink_bottom > pt(kBoxBottomMm)) {
        std::fprintf(stderr, "make_tags_pdf: text leaves the printable box: \"%s\"\n",
                     text.c_str());
        return false;
    }
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
    return true;
}

std::string format_mm(double mm) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f mm", mm);
    return buffer;
}

struct MarkerLabel {
    const char *letter;
    int id;
};

// The letter, family, id and size, stacked in a column next to the marker.
bool draw_marker_label(cairo_t *cr, const Fonts &fonts, const FamilyPage &page,
                       const MarkerLabel &label, double x_mm, double top_mm, Align align) {
    const std::string family_line =
        std::string(page.family_name) + ", id " + std::to_string(label.id);
    const std::string side_line = "Marker side: " + format_mm(page.marker_side_mm);
    return draw_text(cr, {fonts.bold, 40.0}, std::string("Tag ") + label.letter, x_mm,
                     top_mm + 14.0, align) &&
           draw_text(cr, {fonts.bold, 14.0}, family_line, x_mm, top_mm + 23.0, align) &&
           draw_text(cr, {fonts.regular, 11.0}, side_line, x_mm, top_mm + 30.0, align) &&
           draw_text(cr, {fonts.regular, 9.0}, "(outer edge of the black square)", x_mm,
                     top_mm + 35.0, align);
}

bool draw_page(cairo_t *cr, const Fonts &fonts, const FamilyPage &page, int page_number,
               int page_count) {
    apriltag_family_t *family = page.create();
    if (family == nullptr) {
        std::fprintf(stderr, "make_tags_pdf: cannot create family %s\n", page.family_name);
        return false;
    }
    ModuleGrid grid_a;
    ModuleGrid grid_b;
    const bool have_grids = marker_grid(family, 0, grid_a) && marker_grid(family, 1, grid_b);
    const double module_mm = page.marker_side_mm / black_square_modules(*family);
    const InkExtent ink = ink_extent(*family);
    page.destroy(family);
    if (!have_grids) {
        std::fprintf(stderr, "make_tags_pdf: cannot draw markers of %s\n", page.family_name);
        return false;
    }

    // A at the top left and B at the bottom right, as the user will place them; the grids are
    // positioned so that their ink, not their unused border modules, touches the box.
    const double ink_mm = ink.count * module_mm;
    const double a_left = kBoxLeftMm - ink.first * module_mm;
    const double a_top = kMarkersTopMm - ink.first * module_mm;
    const double b_left = kBoxRightMm - ink_mm - ink.first * module_mm;
    const double b_top = kMarkersBottomMm - ink_mm - ink.first * module_mm;
    const double ink_gap_mm = (kBoxRightMm - kBoxLeftMm) - 2.0 * ink_mm;
    if (ink_gap_mm < module_mm) {
        std::fprintf(stderr, "make_tags_pdf: markers of %s too large for their quiet zone\n",
                     page.family_name);
        return false;
    }

    cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
    draw_marker(cr, grid_a, a_left, a_top, module_mm);
    draw_marker(cr, grid_b, b_left, b_top, module_mm);

    // Labels keep at least 1.5 modules of white beside the ink.
    const double label_gap_mm = 1.5 * module_mm;
    const double a_ink_right = kBoxLeftMm + ink_mm;
    const double b_ink_left = kBoxRightMm - ink_mm;
    const std::string subtitle = "Page " + std::to_string(page_number) + " of " +
                                 std::to_string(page_count) + ": AprilTag family " +
                                 page.family_name + ", marker A (id 0) and marker B (id 1)";
    const std::string family_advice = std::string("In the filter, choose Marker family \"") +
                                      page.setting_name + "\", Marker A id 0 and Marker B id 1.";
    const TextStyle advice{fonts.regular, 9.5};
    const double bar_top = 234.0;
    const bool text_ok =
        draw_text(cr, {fonts.bold, 18.0}, "Pinvale Marker Zoom: printable markers", kBoxLeftMm,
                  28.5, Align::left) &&
        draw_text(cr, {fonts.regular, 11.0}, subtitle, kBoxLeftMm, 35.5, Align::left) &&
        draw_marker_label(cr, fonts, page, {"A", 0}, a_ink_right + label_gap_mm, kMarkersTopMm,
                          Align::left) &&
        draw_marker_label(cr, fonts, page, {"B", 1}, b_ink_left - label_gap_mm,
                          kMarkersBottomMm - 36.0, Align::right) &&
        draw_text(cr, {fonts.bold, 9.5},
                  "Scale check: this bar must measure exactly 100 mm on paper.", kBoxLeftMm, 231.5,
                  Align::left) &&
        draw_text(cr, {fonts.regular, 9.5}, "100 mm", kBoxLeftMm + kScaleBarLengthMm + 3.0,
                  bar_top + 3.4, Align::left) &&
        draw_text(cr, advice,
                  "Print at 100 % (\"Actual size\"), never \"Fit to page\"; use matte paper "
                  "against glare.",
                  kBoxLeftMm, 246.0, Align::left) &&
        draw_text(cr, advice,
                  "Keep each marker flat and unobstructed, and do not trim into its white margin.",
                  kBoxLeftMm, 251.0, Align::left) &&
        draw_text(cr, advice,
                  "Place A and B at two opposite corners of the region to show, e.g. A top left "
                  "and B bottom right.",
                  kBoxLeftMm, 256.0, Align::left) &&
        draw_text(cr, advice, family_advice, kBoxLeftMm, 261.0, Align::left);
    if (!text_ok) {
        return false;
    }

    cairo_rectangle(cr, pt(kBoxLeftMm), pt(bar_top), pt(kScaleBarLengthMm), pt(kScaleBarHeightMm));
    cairo_fill(cr);
    cairo_show_page(cr);
    return true;
}

void release_ft_face(void *face) {
    FT_Done_Face(static_cast<FT_Face>(face));
}

cairo_font_face_t *load_font(FT_Library library, const char *path) {
    static const cairo_user_data_key_t face_key{};
    FT_Face ft_face = nullptr;
    if (FT_New_Face(library, path, 0, &ft_face) != 0) {
        std::fprintf(stderr, "make_tags_pdf: cannot load %s (install fonts-dejavu-core)\n", path);
        return nullptr;
    }
    cairo_font_face_t *face = cairo_ft_font_face_create_for_ft_face(ft_face, 0);
    // cairo may hold the face after we drop ours; it releases the FreeType face when done.
    if (cairo_font_face_set_user_data(face, &face_key, ft_face, release_ft_face) !=
        CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(face);
        FT_Done_Face(ft_face);
        return nullptr;
    }
    return face;
}

bool write_pdf(const char *path, const Fonts &fonts) {
    cairo_surface_t *surface = cairo_pdf_surface_create(path, pt(kPageWidthMm), pt(kPageHeightMm));
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE,
                                   "Pinvale Marker Zoom: printable markers");
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "make_tags_pdf");
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, kFixedDate);
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_MOD_DATE, kFixedDate);
    cairo_t *cr = cairo_create(surface);

    // Metrics and outlines unhinted, so the layout does not depend on a machine's font settings.
    cairo_font_options_t *options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);

    const int page_count = static_cast<int>(std::size(kPages));
    bool ok = true;
    for (int i = 0; i < page_count && ok; ++i) {
        ok = draw_page(cr, fonts, kPages[i], i + 1, page_count);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "make_tags_pdf: cannot write %s: %s\n", path,
                     cairo_status_to_string(status));
        ok = false;
    }
    if (!ok) {
        std::remove(path);
    }
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_tags_pdf OUTPUT.pdf\n");
        return 2;
    }
    // The library lives until exit: cairo may release its faces as late as that.
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        std::fprintf(stderr, "make_tags_pdf: cannot start FreeType\n");
        return 1;
    }
    Fonts fonts;
    fonts.regular = load_font(library, kRegularFontPath);
    fonts.bold = load_font(library, kBoldFontPath);
    const bool ok = fonts.regular != nullptr && fonts.bold != nullptr && write_pdf(argv[1], fonts);
    cairo_font_face_destroy(fonts.regular);
    cairo_font_face_destroy(fonts.bold);
    return ok ? 0 : 1;
}
