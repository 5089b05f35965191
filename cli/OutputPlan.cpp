#include "cli/OutputPlan.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <utility>

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

/// A path as one file: absolute, with "." and ".." taken out. Links are followed for files that
/// exist (their device and inode are compared as well).
std::string Key(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    if (!ec) return canonical.string();
    return std::filesystem::absolute(path, ec).lexically_normal().string();
}

}  // namespace

bool PlanOutputs(const std::vector<BookItem>& items, const std::string& saveTarget,
                 const std::string& pdfTarget, std::vector<BookPlan>& plans, std::string& refusal) {
    plans.clear();
    size_t fromStandardInput = 0;
    std::set<std::string> fieldBooks;
    for (const BookItem& item : items) {
        fromStandardInput += item.fieldBook == "-" ? 1 : 0;
        fieldBooks.insert(item.fieldBook);
    }
    if (fromStandardInput > 1) {
        refusal = "standard input (-) can be read only once";
        return false;
    }

    // An existing folder, or a name ending in "/", is a folder for one book or many.
    struct Target {
        const std::string& given;
        const char* option;
        const char* extension;
        std::string BookPlan::*output;
        bool folder = false;
    };
    Target targets[] = {{saveTarget, "--save", ".xlsx", &BookPlan::savePath},
                        {pdfTarget, "--pdf", ".pdf", &BookPlan::pdfPath}};
    for (Target& target : targets) {
        if (target.given.empty()) continue;
        std::error_code ec;
        const bool isFolder = std::filesystem::is_directory(target.given, ec);
        target.folder = isFolder || target.given.ends_with('/');
        if (target.folder && !isFolder) {
            refusal = std::string(target.option) + " " + Shown(target.given) +
                      " names a folder that does not exist";
            return false;
        }
        if (!target.folder && fieldBooks.size() > 1) {
            refusal = std::string(target.option) + " " + Shown(target.given) +
                      " must be a folder when more than one field book is given";
            return false;
        }
        if (target.folder && fromStandardInput > 0) {
            refusal = "standard input (-) has no name to name its " + std::string(target.option) +
                      " output after";
            return false;
        }
    }

    // Every output is named in full before any work, so that none meets another or a book.
    std::set<FileId> bookIds;
    std::set<std::string> bookKeys;
    for (const std::string& book : fieldBooks) {
        const std::string path = book == "-" ? "/dev/stdin" : book;
        FileId id;
        if (Identify(path, id)) bookIds.insert(id);
        bookKeys.insert(Key(path));
    }
    std::map<std::string, std::pair<const std::string*, const char*>> taken;  // key -> book, option
    for (const BookItem& item : items) {
        const std::string& book = item.fieldBook;
        BookPlan plan{book, {}, {}, item};
        plan.index = plans.size();
        plan.saveInFolder = targets[0].folder;
        plan.pdfInFolder = targets[1].folder;
        // A levelling line of a book of several is named by its number too when its turn
        // comes: ring.run-2.xlsx.
        const std::filesystem::path stem = std::filesystem::path(book).stem();
        for (const Target& target : targets) {
            if (target.given.empty()) continue;
            std::string& output = plan.*target.output;
            if (target.folder) {
                output = (std::filesystem::path(target.given) / stem).string() + target.extension;
            } else if (target.output == &BookPlan::savePath) {
                output = commands::WorkbookPath(target.given);  // as the save dialog takes it
            } else {
                output = target.given;
            }
            FileId id;
            if (bookKeys.count(Key(output)) > 0 ||
                (Identify(output, id) && bookIds.count(id) > 0)) {
                refusal = std::string(target.option) + " " + Shown(output) +
                          " is a field book given; it is never written over";
                return false;
            }
            const auto [at, added] = taken.emplace(Key(output), std::pair{&book, target.option});
            if (!added) {
                // Say which books or options clash: two options of one book, one book given
                // twice, or two books whose outputs share a name.
                const std::string& earlier = *at->second.first;
                const std::string_view earlierOption = at->second.second;
                if (earlier == book && earlierOption != target.option) {
                    refusal = "--save and --pdf name the same file " + Shown(output) +
                              "; one would replace the other";
                } else if (earlier == book) {
                    refusal = Shown(book) + " is given twice; its " + target.option +
                              " outputs would both be " + Shown(output);
                } else {
                    refusal = Shown(earlier) + " and " + Shown(book) +
                              " would both be written to " + Shown(output) + " (" + target.option +
                              ")";
                }
                return false;
            }
        }
        plans.push_back(std::move(plan));
    }
    return true;
}

}  // namespace rendle::cli
