#pragma once

#include "module/module_entry.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <obs.h>
#include <unistd.h>

// A module data folder of the test's own. While it lives, both the loaded module and the tests'
// copy of the module code look their data files up in it.
class module_data_dir {
public:
    explicit module_data_dir(const std::string &name)
        : root_(std::filesystem::temp_directory_path() /
                ("pinvaler-data-" + std::to_string(getpid()) + "-" + name)) {
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        point_module_at(root_);
    }
    ~module_data_dir() {
        point_module_at(PINVALER_DATA_DIR);
        std::filesystem::remove_all(root_);
    }
    module_data_dir(const module_data_dir &) = delete;

    // The full path of a data file, e.g. "effects/pinvaler.effect".
    std::filesystem::path file(const std::string &relative) const { return root_ / relative; }
    void write(const std::string &relative, const std::string &text) const {
        std::filesystem::create_directories(file(relative).parent_path());
        std::ofstream(file(relative)) << text;
    }

private:
    // Opening the module again is the host's only way to give it another data folder; it also
    // moves the loaded module's own pointer.
    static void point_module_at(const std::filesystem::path &data) {
        obs_module_t *module = nullptr;
        EXPECT_EQ(obs_open_module(&module, PINVALER_MODULE_PATH, data.c_str()), MODULE_SUCCESS);
        obs_module_set_pointer(module);
    }
    std::filesystem::path root_;
};
