#include "module_location.h"

namespace {

std::string parent(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string leaf(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string stem(const std::string &file) {
    const size_t dot = file.rfind('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
}

} // namespace

std::vector<std::string> installed_data_dirs(const std::string &module_path) {
    std::vector<std::string> dirs;
    const std::string name = stem(leaf(module_path));
    const std::string dir = parent(module_path);
    if (leaf(dir) == "64bit" && leaf(parent(dir)) == "bin")
        dirs.push_back(parent(parent(dir)) + "/data");
    if (leaf(dir) == "obs-plugins") {
        std::string lib = parent(dir);
        // Debian puts plug-ins under lib/<multiarch>/, others straight under lib/.
        if (leaf(lib) != "lib" && leaf(parent(lib)) == "lib")
            lib = parent(lib);
        if (leaf(lib) == "lib" || leaf(lib) == "lib64")
            dirs.push_back(parent(lib) + "/share/obs/obs-plugins/" + name);
    }
    return dirs;
}
