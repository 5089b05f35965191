#include "cli/OutputPlan.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "cli/FieldBookInput.h"
#include "commands/Output.h"
#include "grid/Utf8.h"

namespace rendle::cli {

namespace {

using FileId = std::pair<dev_t, ino_t>;

bool Identify(const std::string& path, FileId& id) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    id = {info.st_dev, info.st_ino};
    return true;
}

std::string Shown(const std::string& path) {
    return grid::ValidUtf8(path);
}

}  // namespace

bool PlanOutputs(const std::vector<std::string>& fieldBooks, const std::string& saveTarget,
                 const std::string& pdfTarget, std::vector<BookPlan>& plans, std::string& refusal) {
    plans.clear();
    size_t fromStandardInput = 0;
    for (const std::string& book : fieldBooks) fromStandardInput += book == "-" ? 1 : 0;
    if (fromStandardInput > 1) {
        refusal = "standard input (-) can be read only once";
        return false;
    }

    if (fieldBooks.size() == 1) {
        // No output may take the place of the field book or of the other output.
        const std::string& book = fieldBooks.front();
        const std::string bookForComparison = book == "-" ? "/dev/stdin" : book;
        const std::string workbookPath =
            saveTarget.empty() ? std::string() : commands::WorkbookPath(saveTarget);
        const std::pair<std::string, const char*> outputs[] = {{workbookPath, "--save"},
                                                               {pdfTarget, "--pdf"}};
        for (const auto& [output, option] : outputs) {
            if (!output.empty() && SameFile(bookForComparison, output)) {
                refusal = std::string(option) + " " + Shown(output) +
                          " is the field book itself; it is never written over";
                return false;
            }
        }
        if (!workbookPath.empty() && !pdfTarget.empty() && SameFile(workbookPath, pdfTarget)) {
            refusal = "--save and --pdf name the same file " + Shown(pdfTarget) +
                      "; one would replace the other";
            return false;
        }
        plans.push_back({book, saveTarget, pdfTarget});
        return true;
    }

    const std::pair<const std::string*, const char*> folders[] = {{&saveTarget, "--save"},
                                                                  {&pdfTarget, "--pdf"}};
    for (const auto& [folder, option] : folders) {
        if (folder->empty()) continue;
        std::error_code ec;
        if (!std::filesystem::is_directory(*folder, ec)) {
            refusal = std::string(option) + " " + Shown(*folder) +
                      " must be a folder when more than one field book is given";
            return false;
        }
        if (fromStandardInput > 0) {
            refusal = "standard input (-) has no name to name its " + std::string(option) +
                      " output after";
            return false;
        }
    }

    // Outputs named after their field books must not meet one another or a field book.
    std::set<FileId> books;
    for (const std::string& book : fieldBooks) {
        FileId id;
        if (book != "-" && Identify(book, id)) books.insert(id);
    }
    std::map<std::string, const std::string*> taken;  // output -> the book it belongs to
    for (const std::string& book : fieldBooks) {
        BookPlan plan{book, {}, {}};
        const std::filesystem::path stem = std::filesystem::path(book).stem();
        const std::pair<std::string*, std::pair<const std::string*, const char*>> outputs[] = {
            {&plan.savePath, {&saveTarget, ".xlsx"}}, {&plan.pdfPath, {&pdfTarget, ".pdf"}}};
        for (const auto& [target, source] : outputs) {
            if (source.first->empty()) continue;
            *target = (std::filesystem::path(*source.first) / stem).string() + source.second;
            const auto [at, added] = taken.emplace(*target, &book);
            if (!added) {
                refusal = Shown(*at->second) + " and " + Shown(book) +
                          " would both be written to " + Shown(*target);
                return false;
            }
            FileId id;
            if (Identify(*target, id) && books.count(id) > 0) {
                refusal = Shown(*target) + " is a field book given; it is never written over";
                return false;
            }
        }
        plans.push_back(std::move(plan));
    }
    return true;
}

}  // namespace rendle::cli
