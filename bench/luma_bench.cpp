// Luma downscaling against libyuv's point sampling and against memcpy, measured in one run.
// Prints a summary of the median ratios after the usual benchmark table.

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

// Keeps the median real time of every benchmark for the summary.
class median_collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred || run.iterations == 0) {
                continue;
            }
            const double ns = run.real_accumulated_time / static_cast<double>(run.iterations) * 1e9;
            const std::string &name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians_[name] = ns;
            } else if (run.run_type == Run::RT_Iteration) {
                samples_[name].push_back(ns);
            }
        }
    }

    double median_ns(const std::string &name) const {
        if (auto it = medians_.find(name); it != medians_.end()) {
            return it->second;
        }
        auto it = samples_.find(name);
        if (it == samples_.end() || it->second.empty()) {
            return 0.0;
        }
        std::vector<double> sorted = it->second;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    }

private:
    std::map<std::string, double> medians_;
    std::map<std::string, std::vector<double>> samples_;
};

struct comparison {
    std::string candidate;
    std::string baseline;
    double goal; // the candidate's time over the baseline's at most this; 0 for no goal
};

void print_summary(const median_collector &collector, const std::vector<comparison> &list) {
    std::printf("\nSummary: median time per frame, candidate / baseline\n");
    for (const comparison &c : list) {
        const double candidate = collector.median_ns(c.candidate);
        const double baseline = collector.median_ns(c.baseline);
        if (candidate <= 0.0 || baseline <= 0.0) {
            continue; // filtered out of this run
        }
        const double ratio = candidate / baseline;
        std::printf("  %-48s %9.1f us\n  %-48s %9.1f us   ratio %.2f", c.candidate.c_str(),
                    candidate / 1e3, c.baseline.c_str(), baseline / 1e3, ratio);
        if (c.goal > 0.0) {
            std::printf("  (goal <= %.2f: %s)", c.goal, ratio <= c.goal ? "met" : "NOT met");
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char **argv) {
    // A shared, noisy machine: by default repeat, interleave and compare medians.
    std::vector<char *> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=7";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::string aggregates = "--benchmark_display_aggregates_only=true";
    std::string min_time = "--benchmark_min_time=0.2";
    auto given = [&](const char *flag) {
        return std::any_of(args.begin() + 1, args.end(), [flag](const char *arg) {
            return std::strncmp(arg, flag, std::strlen(flag)) == 0;
        });
    };
    if (!given("--benchmark_repetitions")) {
        args.push_back(repetitions.data());
        args.push_back(interleave.data());
        args.push_back(aggregates.data());
    }
    if (!given("--benchmark_min_time")) {
        args.push_back(min_time.data());
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    const size_pair half_hd{1920, 1080, 960, 540};
    const size_pair uhd{3840, 2160, 3840, 2160};
    const size_pair hd_ready{1280, 720, 960, 540};
    const size_pair uhd_to_qhd{3840, 2160, 2560, 1440};

    register_downscale(plane8, half_hd);
    register_scaleplane(half_hd);
    register_downscale(packed32, half_hd);
    register_argbscale_to_grey(half_hd);
    register_downscale(packed422, half_hd);
    for (const family &f : {plane8, packed32, packed422}) {
        register_downscale(f, uhd);
    }
    register_memcpy(uhd.dst_width, uhd.dst_height);
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

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    median_collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    const std::string hd = size_name(half_hd), big = size_name(uhd), odd = size_name(hd_ready);
    std::vector<comparison> list = {
        {"downscale/plane8/" + hd, "baseline/libyuv_scaleplane/" + hd, 2.0},
        {"downscale/packed32/" + hd, "baseline/libyuv_argbscale_argbtoi400/" + hd, 1.0},
        {"downscale/packed422/" + hd, "baseline/libyuv_scaleplane/" + hd, 0.0},
        {"downscale/plane8/" + big, "baseline/memcpy/3840x2160", 0.0},
        {"downscale/packed32/" + big, "baseline/memcpy/3840x2160", 0.0},
        {"downscale/packed422/" + big, "baseline/memcpy/3840x2160", 0.0},
        {"downscale/plane8/" + odd, "baseline/libyuv_scaleplane/" + odd, 0.0},
        {"downscale/packed32/" + odd, "baseline/libyuv_argbscale_argbtoi400/" + odd, 0.0},
        {"downscale/plane8/" + odd, "baseline/memcpy/960x540", 0.0},
        {"downscale/packed32/" + odd, "baseline/memcpy/960x540", 0.0},
        {"downscale/packed422/" + odd, "baseline/memcpy/960x540", 0.0},
        {"downscale/plane8/" + size_name(uhd_to_qhd),
         "baseline/libyuv_scaleplane/" + size_name(uhd_to_qhd), 0.0},
    };
    const std::string fastest = fastest_row_kernels().name;
    for (const luma_row_kernels *kernels : supported_row_kernels()) {
        if (kernels->name == fastest) {
            continue;
        }
        for (const char *row : {"plane8_halve/", "packed32_halve/", "packed422_copy/"}) {
            list.push_back({"rows/" + fastest + "/" + row + hd,
                            std::string("rows/") + kernels->name + "/" + row + hd, 0.0});
        }
    }
    print_summary(collector, list);
    benchmark::Shutdown();
    return 0;
}
