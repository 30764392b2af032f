// The GPU intake's own cost on the host's graphics thread (llvmpipe here), against the raw-frame
// intake handing the same 1920x1080 picture to the worker: a due frame (the target drawn at
// 960x540, turned into luma and staged, and the picture staged on the frame before mapped and
// copied), the map and copy alone, and a frame not due. Then allocations per due frame, counted
// on the calling thread: the host's by the test support, C++'s by this binary's operator new.
//
// The filter is the host's own instance on a GPU-drawn source that nothing else draws; the bench
// runs the intake's steps of its tick and render inside the graphics context, once per host frame
// where a frame must pass, with the instance's worker stopped.
#include "bench_host.h"
#include "bench_table.h"

#include <cstdlib>
#include <new>
#include <util/platform.h>

namespace {

// C++ allocations on this thread while counting; the host's are counted by the test support.
thread_local bool counting = false;
thread_local uint64_t allocations = 0;

} // namespace

// The replacements pair malloc with free; GCC sees only the new and the free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(size_t size) {
    allocations += counting;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

const std::string group = "GPU intake (graphics thread, 1920x1080 → 960x540, llvmpipe)";

// Allocations the calls in `work` make on this thread, the host's and C++'s.
template <typename Work>
uint64_t allocations_in(Work work) {
    const uint64_t before = allocations;
    counting = true;
    const uint64_t host = host_allocations_in(work);
    counting = false;
    return host + allocations - before;
}

// The intake's steps of one frame of the filter, timed, inside the graphics context: the tick's
// take of the picture staged on the frame before, and the render's stage.
uint64_t timed_intake(filter_instance &in, uint64_t *allocated = nullptr) {
    obs_enter_graphics();
    const uint64_t start = os_gettime_ns();
    const uint64_t made = allocations_in([&] {
        take_drawn_picture(in);
        intake_drawn_picture(in);
    });
    const uint64_t ns = os_gettime_ns() - start;
    obs_leave_graphics();
    if (allocated)
        *allocated += made;
    return ns;
}

// A due frame on every host frame: the picture of the frame before is taken, this one staged.
void gpu_due(benchmark::State &state, filter_instance *in) {
    in->graphics.gate.next_detect_ns = 0; // a restarted schedule, whatever ran before
    uint64_t allocated = 0;
    const uint64_t stages = in->graphics.stages, sequence = read_filter_state(*in).input_sequence;
    for (auto _ : state) {
        wait_for_host_frames(1);
        state.SetIterationTime(static_cast<double>(timed_intake(*in, &allocated)) * 1e-9);
    }
    const auto frames = static_cast<uint64_t>(state.iterations());
    if (in->graphics.stages - stages != frames ||
        read_filter_state(*in).input_sequence - sequence < frames - 1)
        state.SkipWithError("not every frame staged and took a picture");
    state.counters["allocations"] = static_cast<double>(allocated) / static_cast<double>(frames);
}

// Only the take: a picture staged on the frame before, mapped and copied, nothing staged.
void gpu_take(benchmark::State &state, filter_instance *in) {
    const uint64_t sequence = read_filter_state(*in).input_sequence;
    for (auto _ : state) {
        in->graphics.gate.next_detect_ns = 0; // due: stages
        wait_for_host_frames(1);
        timed_intake(*in);
        in->graphics.gate.next_detect_ns = UINT64_MAX; // not due: takes only
        wait_for_host_frames(1);
        state.SetIterationTime(static_cast<double>(timed_intake(*in)) * 1e-9);
    }
    if (read_filter_state(*in).input_sequence - sequence <
        static_cast<uint64_t>(state.iterations()))
        state.SkipWithError("a picture was not taken");
}

// Frames not due, inside one graphics section: nothing ready, nothing to stage.
void gpu_not_due(benchmark::State &state, filter_instance *in) {
    obs_enter_graphics();
    const uint64_t stages = in->graphics.stages;
    for (auto _ : state) {
        in->graphics.gate.next_detect_ns = UINT64_MAX;
        take_drawn_picture(*in);
        intake_drawn_picture(*in);
    }
    if (in->graphics.stages != stages)
        state.SkipWithError("staged on a frame not due");
    obs_leave_graphics();
}

// What deciding costs any intake: the settings copy, the clock, the gate.
void decision_floor(benchmark::State &state, filter_instance *in) {
    rate_gate gate{.schedule_fps = 30.0f, .next_detect_ns = UINT64_MAX};
    for (auto _ : state) {
        benchmark::DoNotOptimize(copy_settings(*in));
        benchmark::DoNotOptimize(rate_gate_due(gate, 30.0f, obs_get_video_frame_time()));
    }
}

// The raw-frame intake with the same picture as a BGRA frame, every frame due.
void raw_due(benchmark::State &state, filter_instance *raw, obs_source_frame *frame) {
    uint64_t allocated = 0;
    for (auto _ : state) {
        raw->intake.gate.next_detect_ns = 0;
        allocated += allocations_in([&] { filter_video(raw, frame); });
    }
    state.counters["allocations"] =
        static_cast<double>(allocated) / static_cast<double>(state.iterations());
}

} // namespace

int main(int argc, char **argv) {
    bench_table table;
    std::string error;
    if (!start_bench_host(error)) {
        table.add_failure(group, "all rows", error + " (run under xvfb-run -a)");
        table.finish();
        return 1;
    }
    const rgba_image picture(
        make_tag_scene(tag_family_kind::tag16h5, tag_scene::pair, 1920, 1080).image);
    obs_source_t *parent = create_picture_source("bench picture", picture);
    data_ptr settings(obs_data_create());
    filter_get_defaults(settings.get());
    obs_data_set_double(settings.get(), key_detect_fps, 30.0);
    obs_source_t *filter = obs_source_create_private("pinvaler_filter", "bench", settings.get());
    obs_source_filter_add(parent, filter);
    auto *in = static_cast<filter_instance *>(obs_obj_get_data(filter));
    instance_ptr raw =
        create_bench_instance([](obs_data_t *s) { obs_data_set_double(s, key_detect_fps, 30.0); });
    if (!in || !raw) {
        table.add_failure(group, "all rows", "the filter was not created");
        table.finish();
        return 1;
    }
    stop_worker(*in);
    stop_worker(*raw);
    // Surfaces made, shaders compiled, the picture uploaded.
    for (int frame = 0; frame < 5; ++frame) {
        wait_for_host_frames(1);
        timed_intake(*in);
    }

    host_frame raw_frame(VIDEO_FORMAT_BGRA, picture);

    benchmark::RegisterBenchmark("gpu/due", gpu_due, in)->UseManualTime()->Iterations(30);
    benchmark::RegisterBenchmark("gpu/take", gpu_take, in)->UseManualTime()->Iterations(15);
    benchmark::RegisterBenchmark("gpu/not_due", gpu_not_due, in);
    benchmark::RegisterBenchmark("decision_floor", decision_floor, in);
    benchmark::RegisterBenchmark("raw/due", raw_due, raw.get(), &raw_frame.frame);

    const std::string due = "gpu/due/iterations:30/manual_time";
    const std::string take = "gpu/take/iterations:15/manual_time";
    table.compare(group, "due frame: draw + convert + stage, and map + copy of the frame before",
                  due, "raw-frame intake, due frame (BGRA conversion)", "raw/due");
    table.compare(group, "map + copy of a picture staged on the frame before", take,
                  "raw-frame intake, due frame (BGRA conversion)", "raw/due");
    table.compare(group, "frame not due", "gpu/not_due", "settings copy + frame time + rate gate",
                  "decision_floor", {0, 2000});
    table.compare(group, "allocations per due frame (host allocator and C++)", due + "#allocations",
                  "raw-frame intake, per due frame", "raw/due#allocations", {0, 0.5}, "#");

    const int status = run_benchmarks(argc, argv, table, 3, "0.2");
    obs_source_filter_remove(parent, filter);
    obs_source_release(filter);
    obs_source_release(parent);
    raw.reset();
    obs_wait_for_destroy_queue();
    stop_host();
    return status;
}
