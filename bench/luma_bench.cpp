// Luma downscaling per layout family against libyuv's point sampling and
// against a memcpy of the destination's bytes (the floor), on the same buffers.
#include "bench_table.h"
#include "intake/luma.h"

#include <cstring>
#include <libyuv.h>
#include <random>

namespace {

struct family {
    const char *name;
    luma_layout layout;
    int bytes_per_pixel; // of the source; 4:2:2 pairs take 2 per pixel
    const char *libyuv;
    row_goal goal; // plane8 within 2x of libyuv, packed32 no slower than its two passes
};

const family families[] = {
    {"plane8", LUMA_PLANE8, 1, "libyuv ScalePlane", {2.0}},
    {"packed32", LUMA_BGRA, 4, "libyuv ARGBScale + ARGBToI400", {1.0}},
    // What a libyuv user would do for YUY2: pull the luma out at full size, then sample it.
    {"packed422", LUMA_YUY2, 2, "libyuv YUY2ToY + ScalePlane", {}},
};

} // namespace

int main(int argc, char **argv) {
    bench_table table;
    std::mt19937 random(42);
    std::vector<std::vector<uint8_t>> buffers; // until the runs are over
    const auto buffer = [&](size_t bytes) {
        buffers.emplace_back(bytes);
        std::ranges::generate(buffers.back(), [&] { return static_cast<uint8_t>(random()); });
        return buffers.back().data();
    };
    for (const auto &sizes_row : {std::array{1920, 1080, 960, 540}, {3840, 2160, 3840, 2160}}) {
        const int sw = sizes_row[0], sh = sizes_row[1], dw = sizes_row[2], dh = sizes_row[3];
        const std::string size = std::to_string(dw) + "x" + std::to_string(dh);
        const std::string sizes = std::to_string(sw) + "x" + std::to_string(sh) + " → " + size;
        // Read by every family and by the copy; the middle buffer is a two-pass baseline's.
        const uint8_t *src = buffer(size_t(sw) * sh * 4);
        uint8_t *mid = buffer(size_t(dw) * dh * 4 + size_t(sw) * sh);
        uint8_t *dst = buffer(size_t(dw) * dh);
        add_run("memcpy/" + size, [=] { std::memcpy(dst, src, size_t(dw) * dh); });
        for (const family &f : families) {
            const std::string run = std::string(f.name) + " " + sizes; // and its label
            const int stride = sw * f.bytes_per_pixel;
            add_run("downscale/" + run, [=] {
                benchmark::DoNotOptimize(
                    downscale_luma(f.layout, dst, dw, dh, dw, src, sw, sh, stride, false));
            });
            if (f.layout == LUMA_PLANE8)
                add_run("libyuv/" + run, [=] {
                    libyuv::ScalePlane(src, stride, sw, sh, dst, dw, dw, dh, libyuv::kFilterNone);
                });
            else if (f.layout == LUMA_BGRA)
                add_run("libyuv/" + run, [=] {
                    libyuv::ARGBScale(src, stride, sw, sh, mid, dw * 4, dw, dh,
                                      libyuv::kFilterNone);
                    libyuv::ARGBToI400(mid, dw * 4, dst, dw, dw, dh);
                });
            else
                add_run("libyuv/" + run, [=] {
                    libyuv::YUY2ToY(src, stride, mid, sw, sw, sh);
                    libyuv::ScalePlane(mid, sw, sw, sh, dst, dw, dw, dh, libyuv::kFilterNone);
                });
            const std::string group = "Luma downscale (frame thread)";
            table.compare(group, run, "downscale/" + run, f.libyuv, "libyuv/" + run, f.goal);
            table.compare(group, run, "downscale/" + run, "memcpy of " + size + " bytes",
                          "memcpy/" + size);
        }
    }
    return run_benchmarks(argc, argv, table, 7, "0.2");
}
