-- Switches scenes when a Pinvale Marker Zoom filter finds or loses its two markers.
-- Tools > Scripts > +: pick this file, then name the source, its filter and the two scenes.
obs = obslua

local config = { source = "", filter = "", found_scene = "", lost_scene = "" }
local listening = nil -- weak reference to the filter whose signals are connected

function script_description()
  return "Switches to one scene when the marker zoom filter sees both markers, " ..
         "and to another when it loses them."
end

function script_properties()
  local props = obs.obs_properties_create()
  obs.obs_properties_add_text(props, "source_name", "Source with the filter", obs.OBS_TEXT_DEFAULT)
  obs.obs_properties_add_text(props, "filter_name", "Filter name", obs.OBS_TEXT_DEFAULT)
  obs.obs_properties_add_text(props, "found_scene", "Scene when both markers are seen", obs.OBS_TEXT_DEFAULT)
  obs.obs_properties_add_text(props, "lost_scene", "Scene when they are lost", obs.OBS_TEXT_DEFAULT)
  return props
end

-- The filter's state, through its get_state procedure.
local function read_state(filter)
  local cd = obs.calldata_create()
  local state = nil
  if obs.proc_handler_call(obs.obs_source_get_proc_handler(filter), "get_state", cd) then
    state = {
      target_valid = obs.calldata_bool(cd, "target_valid"),
      x = obs.calldata_float(cd, "target_center_x"),
      y = obs.calldata_float(cd, "target_center_y"),
      width = obs.calldata_float(cd, "target_width"),
      height = obs.calldata_float(cd, "target_height"),
    }
  end
  obs.calldata_destroy(cd)
  return state
end

local function switch_to(scene_name)
  local scene = obs.obs_get_source_by_name(scene_name)
  if scene == nil then
    obs.script_log(obs.LOG_WARNING, "no scene named '" .. scene_name .. "'")
    return
  end
  obs.obs_frontend_set_current_scene(scene)
  obs.obs_source_release(scene)
end

-- Signals come on the host's graphics thread: keep the handlers short.
local function on_markers(cd, what, scene_name)
  local state = read_state(obs.calldata_source(cd, "source"))
  if state ~= nil and state.target_valid then
    obs.script_log(obs.LOG_INFO, string.format("%s: target %.0fx%.0f at %.0f,%.0f, switching to '%s'",
      what, state.width, state.height, state.x, state.y, scene_name))
  else
    obs.script_log(obs.LOG_INFO, string.format("%s: no target, switching to '%s'", what, scene_name))
  end
  switch_to(scene_name)
end

local function on_found(cd) on_markers(cd, "markers_found", config.found_scene) end
local function on_lost(cd) on_markers(cd, "markers_lost", config.lost_scene) end

local function stop_listening()
  if listening == nil then return end
  local filter = obs.obs_weak_source_get_source(listening)
  if filter ~= nil then
    local handler = obs.obs_source_get_signal_handler(filter)
    obs.signal_handler_disconnect(handler, "markers_found", on_found)
    obs.signal_handler_disconnect(handler, "markers_lost", on_lost)
    obs.obs_source_release(filter)
  end
  obs.obs_weak_source_release(listening)
  listening = nil
end

-- OBS loads scripts before the scene collection and makes new filters when it changes: look the
-- filter up every second and follow it.
local function follow_filter()
  local source = obs.obs_get_source_by_name(config.source)
  local filter = nil
  if source ~= nil then
    filter = obs.obs_source_get_filter_by_name(source, config.filter)
    obs.obs_source_release(source)
  end
  if filter == nil then
    stop_listening()
    return
  end
  if listening == nil or not obs.obs_weak_source_references_source(listening, filter) then
    stop_listening()
    local handler = obs.obs_source_get_signal_handler(filter)
    obs.signal_handler_connect(handler, "markers_found", on_found)
    obs.signal_handler_connect(handler, "markers_lost", on_lost)
    listening = obs.obs_source_get_weak_source(filter)
    obs.script_log(obs.LOG_INFO, "listening to '" .. config.filter .. "' on '" .. config.source .. "'")
  end
  obs.obs_source_release(filter)
end

function script_update(settings)
  config.source = obs.obs_data_get_string(settings, "source_name")
  config.filter = obs.obs_data_get_string(settings, "filter_name")
  config.found_scene = obs.obs_data_get_string(settings, "found_scene")
  config.lost_scene = obs.obs_data_get_string(settings, "lost_scene")
  follow_filter()
end

function script_load(settings)
  obs.timer_add(follow_filter, 1000)
end

-- OBS drops the script's timers and connections itself. In OBS 29 a Lua script_unload runs
-- without the script's context, where script_log, timer_remove and signal_handler_disconnect
-- crash; plain obs_* calls are fine.
function script_unload()
  if listening ~= nil then
    obs.obs_weak_source_release(listening)
    listening = nil
  end
end
