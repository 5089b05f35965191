// What rendle-reduce does for each field book of an archive, in process: open, read, reduce and
// write the text report (to nowhere), on one thread and on two. The whole-process figures of
// bench/whole-process.sh are set against these.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>

#include "FieldBookMaker.h"
#include "cli/ReduceBook.h"

namespace {

/// A stream that throws its output away.
class NullBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

/// A full run of about 1000 rows, as a file the books are read from, removed at the end.
struct FullRunFile {
    FullRunFile()
        : path((std::filesystem::temp_directory_path() /
                ("rendle-batch-bench-" + std::to_string(getpid()) + ".SDR"))
                   .string()) {
        std::ofstream(path, std::ios::binary)
            << rendle::bench::MakeFieldBook(rendle::readers::FieldBookFormat::SDR20, 0);
    }
    ~FullRunFile() { std::filesystem::remove(path); }
    std::string path;
};

const std::string& FullRunBook() {
    static const FullRunFile file;
    return file.path;
}

void BM_ReduceBook(benchmark::State& state) {
    rendle::cli::RunOptions options;
    options.endRL = "100.01";
    const rendle::cli::BookPlan plan{FullRunBook(), {}, {}, {FullRunBook(), std::nullopt}};
    rendle::cli::PdfPrinter printer;
    rendle::cli::WorkbookModuleWriter writer;
    NullBuffer nothing;
    std::ostream out(&nothing);
    for (auto _ : state) {
        if (rendle::cli::ReduceBook(options, plan, printer, writer, out, out) != 0) {
            state.SkipWithError("the run was not reduced");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ReduceBook)->Threads(1)->Threads(2)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
