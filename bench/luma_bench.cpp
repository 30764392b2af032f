// Luma downscaling per layout family against libyuv's point sampling and
// against a memcpy of the destination's bytes (the floor), on the same buffers.
#include "bench_table.h"
#include "intake/downscale_luma.h"

#include <cstring>
#include <libyuv.h>
#include <random>

namespace {

// Random bytes, one buffer per use and size, shared by a candidate and its baselines.
uint8_t *buffer(int use, size_t bytes) {
    static std::map<std::pair<int, size_t>, std::vector<uint8_t>> buffers;
    std::vector<uint8_t> &slot = buffers[{use, bytes}];
    if (slot.empty()) {
        std::mt19937 random(static_cast<uint32_t>(use));
        slot.resize(bytes);
        for (uint8_t &byte : slot)
            byte = static_cast<uint8_t>(random());
    }
    return slot.data();
}

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

struct size_pair {
    int sw, sh, dw, dh;
};

template <typename Work>
void add_run(const std::string &name, Work work) {
    benchmark::RegisterBenchmark(name.c_str(), [work](benchmark::State &state) {
        for (auto _ : state) {
            work();
            benchmark::ClobberMemory();
        }
    });
}

} // namespace

int main(int argc, char **argv) {
    bench_table table;
    for (const size_pair s : {size_pair{1920, 1080, 960, 540}, size_pair{3840, 2160, 3840, 2160}}) {
        const std::string size = std::to_string(s.dw) + "x" + std::to_string(s.dh);
        const std::string sizes = std::to_string(s.sw) + "x" + std::to_string(s.sh) + " → " + size;
        const size_t dst_bytes = size_t(s.dw) * s.dh;
        uint8_t *dst = buffer(1, dst_bytes);
        uint8_t *mid = buffer(2, std::max(dst_bytes * 4, size_t(s.sw) * s.sh));
        const uint8_t *copy_src = buffer(0, dst_bytes);
        add_run("memcpy/" + size, [=] { std::memcpy(dst, copy_src, dst_bytes); });
        for (const family &f : families) {
            const std::string run = std::string(f.name) + "/" + sizes;
            const uint8_t *src = buffer(0, size_t(s.sw) * s.sh * f.bytes_per_pixel);
            const int stride = s.sw * f.bytes_per_pixel;
            add_run("downscale/" + run, [=] {
                benchmark::DoNotOptimize(downscale_luma(f.layout, dst, s.dw, s.dh, s.dw, src, s.sw,
                                                        s.sh, stride, false));
            });
            if (f.layout == LUMA_PLANE8)
                add_run("libyuv/" + run, [=] {
                    libyuv::ScalePlane(src, stride, s.sw, s.sh, dst, s.dw, s.dw, s.dh,
                                       libyuv::kFilterNone);
                });
            else if (f.layout == LUMA_BGRA)
                add_run("libyuv/" + run, [=] {
                    libyuv::ARGBScale(src, stride, s.sw, s.sh, mid, s.dw * 4, s.dw, s.dh,
                                      libyuv::kFilterNone);
                    libyuv::ARGBToI400(mid, s.dw * 4, dst, s.dw, s.dw, s.dh);
                });
            else
                add_run("libyuv/" + run, [=] {
                    libyuv::YUY2ToY(src, stride, mid, s.sw, s.sw, s.sh);
                    libyuv::ScalePlane(mid, s.sw, s.sw, s.sh, dst, s.dw, s.dw, s.dh,
                                       libyuv::kFilterNone);
                });
            const std::string label = std::string(f.name) + " " + sizes;
            const std::string group = "Luma downscale (frame thread)";
            table.compare(group, {label, "downscale/" + run}, {f.libyuv, "libyuv/" + run}, f.goal);
            table.compare(group, {label, "downscale/" + run},
                          {"memcpy of " + size + " bytes", "memcpy/" + size});
        }
    }
    return run_benchmarks(argc, argv, table, 7, "0.2");
}
