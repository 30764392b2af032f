#include "frame_probe.h"

#include <cstring>
#include <mutex>

namespace {

constexpr char probe_id[] = "pinvaler_frame_probe";
constexpr char key_checksums[] = "checksums";

struct probe_record {
    bool checksums;
    std::mutex mutex;
    uint64_t count = 0;
    frame_sighting last;
};

probe_record &record_of(obs_source_t *probe) {
    return *static_cast<probe_record *>(obs_obj_get_data(probe));
}

void register_probe() {
    static std::once_flag once;
    std::call_once(once, [] {
        obs_source_info info{};
        info.id = probe_id;
        info.type = OBS_SOURCE_TYPE_FILTER;
        info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
        info.get_name = [](void *) { return "Pinvale frame probe"; };
        info.create = [](obs_data_t *settings, obs_source_t *) -> void * {
            auto *record = new probe_record;
            record->checksums = obs_data_get_bool(settings, key_checksums);
            return record;
        };
        info.destroy = [](void *data) { delete static_cast<probe_record *>(data); };
        info.filter_video = [](void *data, obs_source_frame *frame) {
            auto *record = static_cast<probe_record *>(data);
            frame_sighting seen{frame, *frame, record->checksums ? plane0_checksum(frame) : 0};
            std::lock_guard<std::mutex> lock(record->mutex);
            ++record->count;
            record->last = seen;
            return frame;
        };
        obs_register_source(&info);
    });
}

} // namespace

bool same_sighting(const frame_sighting &a, const frame_sighting &b) {
    return a.frame == b.frame && std::memcmp(&a.header, &b.header, sizeof(a.header)) == 0 &&
           a.plane0 == b.plane0;
}

uint64_t plane0_checksum(const obs_source_frame *frame) {
    if (!frame->data[0])
        return 0;
    const uint64_t bytes = uint64_t{frame->linesize[0]} * frame->height;
    uint64_t sum = 0;
    for (uint64_t i = 0; i < bytes; ++i)
        sum = sum * 31 + frame->data[0][i];
    return sum;
}

obs_source_t *create_frame_probe(const char *name, bool checksums) {
    register_probe();
    obs_data_t *settings = obs_data_create();
    obs_data_set_bool(settings, key_checksums, checksums);
    obs_source_t *probe = obs_source_create_private(probe_id, name, settings);
    obs_data_release(settings);
    return probe;
}

uint64_t probe_count(obs_source_t *probe) {
    probe_record &record = record_of(probe);
    std::lock_guard<std::mutex> lock(record.mutex);
    return record.count;
}

frame_sighting probe_last(obs_source_t *probe) {
    probe_record &record = record_of(probe);
    std::lock_guard<std::mutex> lock(record.mutex);
    return record.last;
}
