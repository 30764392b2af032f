// Luma downscaling against libyuv's point sampling and against memcpy, measured in one run;
// the rows of the performance table follow the usual benchmark output.

#include "bench_table.h"
#include "intake/downscale_luma.h"
#include "intake/luma_rows.h"

#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct image {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    std::vector<uint8_t> bytes;
};

image make_image(int32_t width, int32_t height, int32_t bytes_per_pixel, uint32_t seed) {
    image result;
    result.width = width;
    result.height = height;
    result.stride = width * bytes_per_pixel;
    result.bytes.resize(static_cast<size_t>(result.stride) * height);
    std::mt19937 random(seed);
    for (uint8_t &byte : result.bytes) {
        byte = static_cast<uint8_t>(random());
    }
    return result;
}

// One source frame per family and size, shared by the candidate and its baselines.
const image &source(int32_t width, int32_t height, int32_t bytes_per_pixel) {
    static std::map<std::tuple<int32_t, int32_t, int32_t>, std::unique_ptr<image>> frames;
    auto &slot = frames[{width, height, bytes_per_pixel}];
    if (!slot) {
        slot = std::make_unique<image>(make_image(width, height, bytes_per_pixel, 42));
    }
    return *slot;
}

image &destination(int32_t width, int32_t height, int32_t bytes_per_pixel = 1) {
    static std::map<std::tuple<int32_t, int32_t, int32_t>, std::unique_ptr<image>> frames;
    auto &slot = frames[{width, height, bytes_per_pixel}];
    if (!slot) {
        slot = std::make_unique<image>(make_image(width, height, bytes_per_pixel, 7));
    }
    return *slot;
}

// A two-pass baseline's full-size middle buffer, never the same as a destination.
image &intermediate(int32_t width, int32_t height) {
    static std::map<std::pair<int32_t, int32_t>, std::unique_ptr<image>> frames;
    auto &slot = frames[{width, height}];
    if (!slot) {
        slot = std::make_unique<image>(make_image(width, height, 1, 11));
    }
    return *slot;
}

struct family {
    const char *name;
    luma_layout layout;
    int32_t bytes_per_pixel; // of the source buffer; 4:2:2 pairs take 2 per pixel
};

constexpr family plane8{"plane8", LUMA_PLANE8, 1};
constexpr family packed32{"packed32", LUMA_BGRA, 4};
constexpr family packed422{"packed422", LUMA_YUY2, 2};

struct size_pair {
    int32_t src_width, src_height, dst_width, dst_height;
};

std::string size_name(const size_pair &s) {
    return std::to_string(s.src_width) + "x" + std::to_string(s.src_height) + "_to_" +
           std::to_string(s.dst_width) + "x" + std::to_string(s.dst_height);
}

// As the table shows it.
std::string size_label(const size_pair &s) {
    return std::to_string(s.src_width) + "x" + std::to_string(s.src_height) + " → " +
           std::to_string(s.dst_width) + "x" + std::to_string(s.dst_height);
}

void set_items(benchmark::State &state, const size_pair &s) {
    state.SetItemsProcessed(state.iterations() * int64_t{s.dst_width} * s.dst_height);
}

void register_downscale(const family &f, const size_pair &s) {
    const std::string name = std::string("downscale/") + f.name + "/" + size_name(s);
    benchmark::RegisterBenchmark(name.c_str(), [f, s](benchmark::State &state) {
        const image &src = source(s.src_width, s.src_height, f.bytes_per_pixel);
        image &dst = destination(s.dst_width, s.dst_height);
        for (auto _ : state) {
            const bool ok =
                downscale_luma(f.layout, dst.bytes.data(), s.dst_width, s.dst_height, dst.stride,
                               src.bytes.data(), s.src_width, s.src_height, src.stride, false);
            benchmark::DoNotOptimize(ok);
            benchmark::ClobberMemory();
        }
        set_items(state, s);
    });
}

void register_scaleplane(const size_pair &s) {
    const std::string name = "baseline/libyuv_scaleplane/" + size_name(s);
    benchmark::RegisterBenchmark(name.c_str(), [s](benchmark::State &state) {
        const image &src = source(s.src_width, s.src_height, 1);
        image &dst = destination(s.dst_width, s.dst_height);
        for (auto _ : state) {
            libyuv::ScalePlane(src.bytes.data(), src.stride, s.src_width, s.src_height,
                               dst.bytes.data(), dst.stride, s.dst_width, s.dst_height,
                               libyuv::kFilterNone);
            benchmark::ClobberMemory();
        }
        set_items(state, s);
    });
}

void register_argbscale_to_grey(const size_pair &s) {
    const std::string name = "baseline/libyuv_argbscale_argbtoi400/" + size_name(s);
    benchmark::RegisterBenchmark(name.c_str(), [s](benchmark::State &state) {
        const image &src = source(s.src_width, s.src_height, 4);
        image &scaled = destination(s.dst_width, s.dst_height, 4);
        image &dst = destination(s.dst_width, s.dst_height);
        for (auto _ : state) {
            libyuv::ARGBScale(src.bytes.data(), src.stride, s.src_width, s.src_height,
                              scaled.bytes.data(), scaled.stride, s.dst_width, s.dst_height,
                              libyuv::kFilterNone);
            libyuv::ARGBToI400(scaled.bytes.data(), scaled.stride, dst.bytes.data(), dst.stride,
                               s.dst_width, s.dst_height);
            benchmark::ClobberMemory();
        }
        set_items(state, s);
    });
}

// What a libyuv user would do for YUY2: pull the luma out at full size, then point-sample it.
void register_yuy2_to_y_scale(const size_pair &s) {
    const std::string name = "baseline/libyuv_yuy2toy_scaleplane/" + size_name(s);
    benchmark::RegisterBenchmark(name.c_str(), [s](benchmark::State &state) {
        const image &src = source(s.src_width, s.src_height, 2);
        image &luma = intermediate(s.src_width, s.src_height);
        image &dst = destination(s.dst_width, s.dst_height);
        for (auto _ : state) {
            libyuv::YUY2ToY(src.bytes.data(), src.stride, luma.bytes.data(), luma.stride,
                            s.src_width, s.src_height);
            libyuv::ScalePlane(luma.bytes.data(), luma.stride, s.src_width, s.src_height,
                               dst.bytes.data(), dst.stride, s.dst_width, s.dst_height,
                               libyuv::kFilterNone);
            benchmark::ClobberMemory();
        }
        set_items(state, s);
    });
}

// The floor: copying as many bytes as the destination holds, from a buffer the size of the
// destination.
void register_memcpy(int32_t width, int32_t height) {
    const std::string name =
        "baseline/memcpy/" + std::to_string(width) + "x" + std::to_string(height);
    benchmark::RegisterBenchmark(name.c_str(), [width, height](benchmark::State &state) {
        const image &src = source(width, height, 1);
        image &dst = destination(width, height);
        for (auto _ : state) {
            std::memcpy(dst.bytes.data(), src.bytes.data(), dst.bytes.size());
            benchmark::ClobberMemory();
        }
        state.SetItemsProcessed(state.iterations() * int64_t{width} * height);
    });
}

// Each kernel set on whole frames, to show what the CPU dispatch buys.
void register_kernel_sets(const size_pair &halves) {
    for (const luma_row_kernels *kernels : supported_row_kernels()) {
        const std::string set = kernels->name;
        benchmark::RegisterBenchmark(
            ("rows/" + set + "/plane8_halve/" + size_name(halves)).c_str(),
            [kernels, halves](benchmark::State &state) {
                const image &src = source(halves.src_width, halves.src_height, 1);
                image &dst = destination(halves.dst_width, halves.dst_height);
                for (auto _ : state) {
                    for (int32_t y = 0; y < halves.dst_height; ++y) {
                        kernels->halve_plane8(dst.bytes.data() + ptrdiff_t{y} * dst.stride,
                                              src.bytes.data() + ptrdiff_t{2 * y} * src.stride,
                                              halves.dst_width);
                    }
                    benchmark::ClobberMemory();
                }
                set_items(state, halves);
            });
        benchmark::RegisterBenchmark(
            ("rows/" + set + "/packed32_halve/" + size_name(halves)).c_str(),
            [kernels, halves](benchmark::State &state) {
                const image &src = source(halves.src_width, halves.src_height, 4);
                image &dst = destination(halves.dst_width, halves.dst_height);
                for (auto _ : state) {
                    for (int32_t y = 0; y < halves.dst_height; ++y) {
                        kernels->halve_packed32(dst.bytes.data() + ptrdiff_t{y} * dst.stride,
                                                src.bytes.data() + ptrdiff_t{2 * y} * src.stride,
                                                halves.dst_width, bgr_weights);
                    }
                    benchmark::ClobberMemory();
                }
                set_items(state, halves);
            });
        benchmark::RegisterBenchmark(
            ("rows/" + set + "/packed422_copy/" + size_name(halves)).c_str(),
            [kernels, halves](benchmark::State &state) {
                const image &src = source(halves.dst_width, halves.dst_height, 2);
                image &dst = destination(halves.dst_width, halves.dst_height);
                for (auto _ : state) {
                    for (int32_t y = 0; y < halves.dst_height; ++y) {
                        kernels->copy_packed422(dst.bytes.data() + ptrdiff_t{y} * dst.stride,
                                                src.bytes.data() + ptrdiff_t{y} * src.stride,
                                                halves.dst_width, 0, 2);
                    }
                    benchmark::ClobberMemory();
                }
                set_items(state, halves);
            });
    }
}

} // namespace

int main(int argc, char **argv) {
    const size_pair half_hd{1920, 1080, 960, 540};
    const size_pair uhd{3840, 2160, 3840, 2160};
    const size_pair hd_ready{1280, 720, 960, 540};
    const size_pair uhd_to_qhd{3840, 2160, 2560, 1440};

    for (const size_pair &s : {half_hd, uhd}) {
        for (const family &f : {plane8, packed32, packed422})
            register_downscale(f, s);
        register_scaleplane(s);
        register_argbscale_to_grey(s);
        register_yuy2_to_y_scale(s);
        register_memcpy(s.dst_width, s.dst_height);
    }
    for (const family &f : {plane8, packed32, packed422}) {
        register_downscale(f, hd_ready);
    }
    register_scaleplane(hd_ready);
    register_argbscale_to_grey(hd_ready);
    register_memcpy(hd_ready.dst_width, hd_ready.dst_height);
    // A ratio without a dedicated libyuv kernel.
    register_downscale(plane8, uhd_to_qhd);
    register_scaleplane(uhd_to_qhd);
    register_kernel_sets(half_hd);

    bench_table table;
    const std::string group = "Luma downscale (frame thread)";
    const auto ours = [](const family &f, const size_pair &s) {
        return measured{std::string(f.name) + " " + size_label(s),
                        std::string("downscale/") + f.name + "/" + size_name(s)};
    };
    const auto libyuv_for = [](const family &f, const size_pair &s) {
        if (f.layout == LUMA_PLANE8)
            return measured{"libyuv ScalePlane", "baseline/libyuv_scaleplane/" + size_name(s)};
        if (f.layout == LUMA_BGRA)
            return measured{"libyuv ARGBScale + ARGBToI400",
                            "baseline/libyuv_argbscale_argbtoi400/" + size_name(s)};
        return measured{"libyuv YUY2ToY + ScalePlane",
                        "baseline/libyuv_yuy2toy_scaleplane/" + size_name(s)};
    };
    const auto copy_of = [](const size_pair &s) {
        const std::string size = std::to_string(s.dst_width) + "x" + std::to_string(s.dst_height);
        return measured{"memcpy of " + size + " bytes", "baseline/memcpy/" + size};
    };
    // The goals: plane8 within 2x of libyuv, packed32 no slower than its two passes.
    const auto goal_for = [](const family &f) {
        if (f.layout == LUMA_PLANE8)
            return ratio_at_most(2.0);
        if (f.layout == LUMA_BGRA)
            return ratio_at_most(1.0);
        return row_goal{};
    };
    for (const size_pair &s : {half_hd, uhd}) {
        for (const family &f : {plane8, packed32, packed422}) {
            table.compare(group, ours(f, s), libyuv_for(f, s), goal_for(f));
            table.compare(group, ours(f, s), copy_of(s));
        }
    }
    for (const family &f : {plane8, packed32})
        table.compare(group, ours(f, hd_ready), libyuv_for(f, hd_ready));
    table.compare(group, ours(packed422, hd_ready), copy_of(hd_ready));
    table.compare(group, ours(plane8, uhd_to_qhd), libyuv_for(plane8, uhd_to_qhd));

    // What the CPU dispatch buys: the chosen row kernels against each other set.
    const std::string fastest = fastest_row_kernels().name;
    for (const luma_row_kernels *kernels : supported_row_kernels()) {
        if (kernels->name == fastest)
            continue;
        for (const char *row : {"plane8_halve", "packed32_halve", "packed422_copy"}) {
            const std::string suffix = std::string("/") + row + "/" + size_name(half_hd);
            table.compare("Luma row kernels, 960 columns x 540 rows",
                          {fastest + " " + row, "rows/" + fastest + suffix},
                          {std::string(kernels->name) + " " + row,
                           std::string("rows/") + kernels->name + suffix});
        }
    }

    // A shared, noisy machine: repeat, interleave and compare medians.
    return run_benchmarks(argc, argv, table,
                          {"--benchmark_repetitions=7",
                           "--benchmark_enable_random_interleaving=true",
                           "--benchmark_display_aggregates_only=true", "--benchmark_min_time=0.2"});
}
