#pragma once

#include <cstdint>
#include <obs.h>

// What a probe saw of the last raw frame handed to it.
struct frame_sighting {
    const obs_source_frame *frame = nullptr;
    obs_source_frame header{};
    uint64_t plane0 = 0; // checksum of plane 0, when asked for
};

bool same_sighting(const frame_sighting &a, const frame_sighting &b);

// Checksum of the linesize x height bytes of plane 0, all that the host's own
// copies of a frame hold there.
uint64_t plane0_checksum(const obs_source_frame *frame);

// A filter of the tests' own that records the raw frames it is handed, to
// attach before or after the filter under test. libobs 29 hands raw frames to
// filters on its graphics thread, when its tick takes them up, not on the
// thread that pushed them, and an unbuffered source hands on only the newest.
obs_source_t *create_frame_probe(const char *name, bool checksums);

// Frames the probe has been handed so far, and the last of them.
uint64_t probe_count(obs_source_t *probe);
frame_sighting probe_last(obs_source_t *probe);
