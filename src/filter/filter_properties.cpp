#include "filter/filter_callbacks.h"

obs_properties_t *filter_get_properties(void *) {
    return obs_properties_create();
}
