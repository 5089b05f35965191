#include "cli/Module.h"

#include <dlfcn.h>

#include <filesystem>

namespace rendle::cli {

void* Module::Symbol(const char* symbol, std::string& error) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string path = (self.parent_path() / fileName_).string();
    if (!tried_) {
        tried_ = true;
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            loadError_ = "is missing or cannot be loaded (" + std::string(dlerror()) + ")";
    }
    if (!handle_) {
        error = path + " " + loadError_;
        return nullptr;
    }
    void* entry = dlsym(handle_, symbol);
    if (!entry) error = path + " has no entry point " + symbol;
    return entry;
}

}  // namespace rendle::cli
