#pragma once

#include <filesystem>
#include <string>

// A module data folder of the test's own. While it lives, both the loaded
// module and the tests' copy of the module code look their data files up in it.
class module_data_dir {
public:
    explicit module_data_dir(const std::string &name);
    ~module_data_dir();
    module_data_dir(const module_data_dir &) = delete;
    module_data_dir &operator=(const module_data_dir &) = delete;

    // The full path of a data file, e.g. "effects/pinvaler.effect".
    std::filesystem::path file(const std::string &relative) const { return root_ / relative; }
    void write(const std::string &relative, const std::string &text) const;

private:
    std::filesystem::path root_;
};
