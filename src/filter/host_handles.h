#pragma once

// Owners for what the host hands out: allocations from its allocator, settings objects, and
// graphics objects, which may only be destroyed inside its graphics context.
#include <obs.h>

#include <cstdint>
#include <memory>

struct host_free {
    void operator()(void *memory) const { bfree(memory); }
};
// Pixels and strings from the host's allocator.
using host_bytes = std::unique_ptr<uint8_t[], host_free>;
using host_string = std::unique_ptr<char[], host_free>;

struct data_release {
    void operator()(obs_data_t *data) const { obs_data_release(data); }
};
using data_ptr = std::unique_ptr<obs_data_t, data_release>;

// A graphics object destroyed inside the graphics context, entered for the purpose; callers on
// the graphics thread may already hold it (the context is re-entrant).
template <typename T, void (*destroy)(T *)>
struct graphics_release {
    void operator()(T *object) const {
        obs_enter_graphics();
        destroy(object);
        obs_leave_graphics();
    }
};
using effect_ptr = std::unique_ptr<gs_effect_t, graphics_release<gs_effect_t, gs_effect_destroy>>;
using texrender_ptr =
    std::unique_ptr<gs_texrender_t, graphics_release<gs_texrender_t, gs_texrender_destroy>>;
using stagesurf_ptr =
    std::unique_ptr<gs_stagesurf_t, graphics_release<gs_stagesurf_t, gs_stagesurface_destroy>>;
using vertbuffer_ptr =
    std::unique_ptr<gs_vertbuffer_t, graphics_release<gs_vertbuffer_t, gs_vertexbuffer_destroy>>;
