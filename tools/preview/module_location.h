#pragma once

#include <string>
#include <vector>

// Where the data folder of a module at `module_path` would be in the two
// installed layouts: per user (<plugin>/bin/64bit/x.so beside <plugin>/data)
// and system-wide (<prefix>/lib[/<arch>]/obs-plugins/x.so with
// <prefix>/share/obs/obs-plugins/<name>).
std::vector<std::string> installed_data_dirs(const std::string &module_path);
