#pragma once

// The filter type as the host sees it: its callback table and the callbacks in it.
#include <obs-module.h>

extern const obs_source_info pinvaler_filter_info;

void *filter_create(obs_data_t *settings, obs_source_t *source);
void filter_destroy(void *data);
void filter_update(void *data, obs_data_t *settings);
void filter_get_defaults(obs_data_t *settings);
obs_properties_t *filter_get_properties(void *data);
void video_tick(void *data, float seconds);
void video_render(void *data, gs_effect_t *effect);
obs_source_frame *filter_video(void *data, obs_source_frame *frame);
