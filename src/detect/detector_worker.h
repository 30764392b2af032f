#pragma once

// The instance's one background thread: sleeps on the detector event and runs
// a detection pass per wake until the run flag is cleared.
void *detector_worker(void *data);
