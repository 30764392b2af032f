#include "crop_estimate.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using level = grey_pyramid::level;

constexpr int32_t smallest_level = 16;
constexpr int32_t output_work_width = 192; // output pixels compared per row, at most
constexpr int32_t coarse_width = 100;      // input width of the exhaustive search, at most
constexpr float hidden_alpha = 8.0f;

// Bilinear sample with pixel centres at i + 0.5; edges clamp, as the crop effect's sampler does.
float sample(const level &l, float x, float y) {
    x = std::clamp(x - 0.5f, 0.0f, static_cast<float>(l.width - 1));
    y = std::clamp(y - 0.5f, 0.0f, static_cast<float>(l.height - 1));
    const int32_t ix = std::min(static_cast<int32_t>(x), l.width - 2);
    const int32_t iy = std::min(static_cast<int32_t>(y), l.height - 2);
    const float fx = x - static_cast<float>(ix);
    const float fy = y - static_cast<float>(iy);
    const float *row0 = l.values.data() + static_cast<size_t>(iy) * l.width + ix;
    const float *row1 = row0 + l.width;
    const float top = row0[0] + (row0[1] - row0[0]) * fx;
    const float bottom = row1[0] + (row1[1] - row1[0]) * fx;
    return top + (bottom - top) * fy;
}

const level &level_at_most(const grey_pyramid &pyramid, int32_t width) {
    for (const level &l : pyramid.levels)
        if (l.width <= width)
            return l;
    return pyramid.levels.back();
}

// A crop as its centre and width in level-0 input pixels, and how far its
// aspect departs from the input's (log of the ratio); the search moves these
// almost independently.
struct crop_guess {
    float center_x, center_y, width, stretch;
};

struct matcher {
    const grey_pyramid &input;
    const level &out;
    float input_w, input_h;

    float height_of(const crop_guess &g) const {
        return g.width * input_h / input_w * std::exp(g.stretch);
    }

    float cost(const crop_guess &g) const {
        const float w = g.width;
        const float h = height_of(g);
        const float left = g.center_x - w * 0.5f;
        const float top = g.center_y - h * 0.5f;
        // The filter never shows more than the input; a little slack for rounding.
        if (w < 2.0f || h < 2.0f || left < -1.0f || top < -1.0f || left + w > input_w + 1.0f ||
            top + h > input_h + 1.0f)
            return std::numeric_limits<float>::infinity();
        // The input level whose pixels are about as large as one compared output pixel.
        const float footprint = w / static_cast<float>(out.width);
        size_t k = 0;
        while (k + 1 < input.levels.size() && footprint >= static_cast<float>(2u << k))
            ++k;
        const level &in = input.levels[k];
        const float sx = static_cast<float>(in.width) / input_w;
        const float sy = static_cast<float>(in.height) / input_h;
        double sum = 0.0;
        for (int32_t v = 0; v < out.height; ++v) {
            const float y =
                (top + (static_cast<float>(v) + 0.5f) / static_cast<float>(out.height) * h) * sy;
            const float *row = out.values.data() + static_cast<size_t>(v) * out.width;
            for (int32_t u = 0; u < out.width; ++u) {
                const float x =
                    (left + (static_cast<float>(u) + 0.5f) / static_cast<float>(out.width) * w) *
                    sx;
                const float d = row[u] - sample(in, x, y);
                sum += static_cast<double>(d * d);
            }
        }
        return static_cast<float>(std::sqrt(sum / (static_cast<double>(out.width) * out.height)));
    }

    // Pattern search from `g`, position steps starting at `step` input pixels.
    float refine(crop_guess &g, float step) const {
        float best = cost(g);
        float position_step = step;
        float width_step = step * 2.0f;
        float stretch_step = 0.04f;
        for (int round = 0; round < 80 && position_step > 0.05f; ++round) {
            bool moved = false;
            for (int p = 0; p < 4; ++p) {
                for (float sign : {1.0f, -1.0f}) {
                    crop_guess trial = g;
                    float *field = p == 0   ? &trial.center_x
                                   : p == 1 ? &trial.center_y
                                   : p == 2 ? &trial.width
                                            : &trial.stretch;
                    *field += sign * (p < 2 ? position_step : p == 2 ? width_step : stretch_step);
                    const float c = cost(trial);
                    if (c < best) {
                        best = c;
                        g = trial;
                        moved = true;
                        break;
                    }
                }
            }
            if (!moved) {
                position_step *= 0.5f;
                width_step *= 0.5f;
                stretch_step *= 0.5f;
            }
        }
        return best;
    }
};

// Every place and size (same aspect as the input) on a small copy of the
// input; returns the few best matches.
std::vector<crop_guess> exhaustive_search(const grey_pyramid &input, const grey_pyramid &output,
                                          float input_w, float input_h) {
    const level &in = level_at_most(input, coarse_width);
    const float to_level0 = input_w / static_cast<float>(in.width);
    struct scored {
        float score;
        crop_guess guess;
    };
    std::vector<scored> best_per_size;
    std::vector<float> templ;
    const int32_t step = std::max(1, in.width / 64);
    for (int32_t tw = std::max(6, in.width / 20); tw <= in.width; tw += step) {
        const int32_t th = std::clamp(static_cast<int32_t>(std::lround(
                                          static_cast<float>(tw) * static_cast<float>(in.height) /
                                          static_cast<float>(in.width))),
                                      4, in.height);
        // The output shrunk to the template size, from the level just larger than it.
        const level *source = &output.levels.front();
        for (const level &l : output.levels)
            if (l.width >= tw)
                source = &l;
        templ.resize(static_cast<size_t>(tw) * th);
        for (int32_t j = 0; j < th; ++j)
            for (int32_t i = 0; i < tw; ++i)
                templ[static_cast<size_t>(j) * tw + i] =
                    sample(*source, (static_cast<float>(i) + 0.5f) * source->width / tw,
                           (static_cast<float>(j) + 0.5f) * source->height / th);
        scored best{std::numeric_limits<float>::infinity(), {}};
        const float limit_scale = 1.0f / static_cast<float>(tw * th);
        for (int32_t y = 0; y + th <= in.height; ++y) {
            for (int32_t x = 0; x + tw <= in.width; ++x) {
                float sum = 0.0f;
                const float limit = best.score / limit_scale;
                for (int32_t j = 0; j < th && sum < limit; ++j) {
                    const float *a = templ.data() + static_cast<size_t>(j) * tw;
                    const float *b = in.values.data() + static_cast<size_t>(y + j) * in.width + x;
                    for (int32_t i = 0; i < tw; ++i) {
                        const float d = a[i] - b[i];
                        sum += d * d;
                    }
                }
                const float score = sum * limit_scale;
                if (score < best.score)
                    best = {score,
                            {(static_cast<float>(x) + static_cast<float>(tw) * 0.5f) * to_level0,
                             (static_cast<float>(y) + static_cast<float>(th) * 0.5f) * input_h /
                                 static_cast<float>(in.height),
                             static_cast<float>(tw) * to_level0, 0.0f}};
            }
        }
        best_per_size.push_back(best);
    }
    std::sort(best_per_size.begin(), best_per_size.end(),
              [](const scored &a, const scored &b) { return a.score < b.score; });
    std::vector<crop_guess> guesses;
    for (const scored &s : best_per_size) {
        if (guesses.size() == 3)
            break;
        guesses.push_back(s.guess);
    }
    return guesses;
}

float spread_of(const level &l) {
    double sum = 0.0, sum_sq = 0.0;
    for (float v : l.values) {
        const double d = static_cast<double>(v);
        sum += d;
        sum_sq += d * d;
    }
    const double n = static_cast<double>(l.values.size());
    const double mean = sum / n;
    return static_cast<float>(std::sqrt(std::max(0.0, sum_sq / n - mean * mean)));
}

} // namespace

grey_pyramid make_grey_pyramid(const rgba_image &image) {
    grey_pyramid pyramid;
    level base;
    base.width = image.width;
    base.height = image.height;
    base.values.resize(static_cast<size_t>(image.width) * image.height);
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *p = image.row(y);
        for (int32_t x = 0; x < image.width; ++x, p += 4)
            base.values[static_cast<size_t>(y) * image.width + x] =
                0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2];
    }
    pyramid.levels.push_back(std::move(base));
    while (pyramid.levels.back().width / 2 >= smallest_level &&
           pyramid.levels.back().height / 2 >= smallest_level / 2) {
        const level &from = pyramid.levels.back();
        level half;
        half.width = from.width / 2;
        half.height = from.height / 2;
        half.values.resize(static_cast<size_t>(half.width) * half.height);
        for (int32_t y = 0; y < half.height; ++y) {
            const float *a = from.values.data() + static_cast<size_t>(2 * y) * from.width;
            const float *b = a + from.width;
            for (int32_t x = 0; x < half.width; ++x)
                half.values[static_cast<size_t>(y) * half.width + x] =
                    (a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1]) * 0.25f;
        }
        pyramid.levels.push_back(std::move(half));
    }
    return pyramid;
}

crop_estimate estimate_crop(const grey_pyramid &input, const rgba_image &output,
                            const grey_pyramid &output_grey, const crop_estimate *previous) {
    crop_estimate result;
    if (input.levels.empty() || output_grey.levels.empty() || output.pixels.empty())
        return result;
    double alpha = 0.0;
    for (size_t i = 3; i < output.pixels.size(); i += 4)
        alpha += output.pixels[i];
    if (alpha / (static_cast<double>(output.pixels.size()) / 4.0) <
        static_cast<double>(hidden_alpha)) {
        result.view = crop_view::hidden;
        return result;
    }
    const level &out = level_at_most(output_grey, output_work_width);
    const float input_w = static_cast<float>(input.levels.front().width);
    const float input_h = static_cast<float>(input.levels.front().height);
    const matcher match{input, out, input_w, input_h};
    // Compression and resampling leave some difference even at the right place;
    // a wrong place differs by about the picture's own contrast.
    const float spread = spread_of(out);
    const float good_enough = std::max(5.0f, 0.3f * spread);

    crop_guess best{input_w * 0.5f, input_h * 0.5f, input_w, 0.0f};
    float best_cost = std::numeric_limits<float>::infinity();
    auto consider = [&](crop_guess g, float step) {
        const float c = match.refine(g, step);
        if (c < best_cost) {
            best_cost = c;
            best = g;
        }
    };
    if (previous != nullptr && previous->view == crop_view::shown)
        consider({(previous->left + previous->width * 0.5f) * input_w,
                  (previous->top + previous->height * 0.5f) * input_h, previous->width * input_w,
                  std::log((previous->height * input_h) / (previous->width * input_w) *
                           (input_w / input_h))},
                 2.0f);
    if (best_cost > good_enough)
        consider({input_w * 0.5f, input_h * 0.5f, input_w, 0.0f}, 2.0f);
    if (best_cost > good_enough)
        for (const crop_guess &g : exhaustive_search(input, output_grey, input_w, input_h))
            consider(g, input_w / static_cast<float>(level_at_most(input, coarse_width).width));

    result.residual = best_cost;
    if (spread < 2.0f || !(best_cost <= good_enough))
        return result;
    const float h = match.height_of(best);
    result.view = crop_view::shown;
    result.left = std::clamp((best.center_x - best.width * 0.5f) / input_w, 0.0f, 1.0f);
    result.top = std::clamp((best.center_y - h * 0.5f) / input_h, 0.0f, 1.0f);
    result.width = std::clamp(best.width / input_w, 0.0f, 1.0f - result.left);
    result.height = std::clamp(h / input_h, 0.0f, 1.0f - result.top);
    return result;
}
