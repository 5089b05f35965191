// A module installed beside rendle-reduce (the PDF printer, the workbook writer), loaded the
// first time it is needed, so that a run that needs neither loads neither Qt nor libxlsxwriter.
#pragma once

#include <mutex>
#include <string>

namespace rendle::cli {

class Module {
  public:
    /// `fileName` is looked for in the program's own folder.
    explicit Module(std::string fileName) : fileName_(std::move(fileName)) {}
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    /// The entry point `symbol`, the module loaded first if it is not yet; null with the reason
    /// in `error`. Safe from any thread. The module stays loaded until the process ends.
    void* Symbol(const char* symbol, std::string& error);

  private:
    std::string fileName_;
    std::mutex mutex_;
    bool tried_ = false;
    void* handle_ = nullptr;
    std::string loadError_;
};

}  // namespace rendle::cli
