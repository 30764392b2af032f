#pragma once

// Keys of the host settings object; stored settings depend on these names.
inline constexpr char key_pv_version[] = "pv_version";
inline constexpr char key_enable_tracking[] = "enable_tracking";
inline constexpr char key_hide_without_both_tags[] = "hide_without_both_tags";
inline constexpr char key_tag_family[] = "tag_family";
inline constexpr char key_tag_id_a[] = "tag_id_a";
inline constexpr char key_tag_id_b[] = "tag_id_b";
inline constexpr char key_padding[] = "padding";
inline constexpr char key_detect_width[] = "detect_width";
inline constexpr char key_detect_fps[] = "detect_fps";
inline constexpr char key_follow_half_life_ms[] = "follow_half_life_ms";
inline constexpr char key_perf_diagnostics[] = "perf_diagnostics";
inline constexpr char key_min_decision_margin[] = "min_decision_margin";
inline constexpr char key_max_hamming[] = "max_hamming";
inline constexpr char key_quad_sigma[] = "quad_sigma";
inline constexpr char key_refine_edges[] = "refine_edges";
inline constexpr char key_decode_sharpening[] = "decode_sharpening";

// Panel entries that store no value of their own.
inline constexpr char key_detection_help[] = "detection_help";
inline constexpr char key_open_tags_pdf[] = "open_tags_pdf";
inline constexpr char key_hide_without_both_help[] = "hide_without_both_help";
