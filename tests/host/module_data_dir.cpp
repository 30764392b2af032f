#include "module_data_dir.h"
#include "host_environment.h"
#include "module/module_entry.h"

#include <fstream>
#include <gtest/gtest.h>
#include <obs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Opening the module again is the host's only way to give it another data
// folder; it also moves the loaded module's own pointer.
obs_module_t *open_module_with_data(const fs::path &root) {
    obs_module_t *module = nullptr;
    EXPECT_EQ(obs_open_module(&module, PINVALER_MODULE_PATH, root.c_str()), MODULE_SUCCESS);
    return module;
}

} // namespace

module_data_dir::module_data_dir(const std::string &name)
    : root_(fs::temp_directory_path() /
            ("pinvaler-data-" + std::to_string(getpid()) + "-" + name)) {
    fs::remove_all(root_);
    fs::create_directories(root_);
    obs_module_set_pointer(open_module_with_data(root_));
}

module_data_dir::~module_data_dir() {
    open_module_with_data(PINVALER_DATA_DIR);
    obs_module_set_pointer(loaded_module());
    fs::remove_all(root_);
}

void module_data_dir::write(const std::string &relative, const std::string &text) const {
    fs::create_directories(file(relative).parent_path());
    std::ofstream(file(relative)) << text;
}
