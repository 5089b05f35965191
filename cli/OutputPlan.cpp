#include "cli/OutputPlan.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <utility>

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

/// The stem a line's output is named from: "DIR/ring" for "DIR/ring.run-2".
std::optional<std::string> RunParent(const std::string& stem) {
    const size_t at = stem.rfind(".run-");
    if (at == std::string::npos) return std::nullopt;
    const std::string_view number = std::string_view(stem).substr(at + 5);
    if (number.empty() || number[0] == '0' ||
        number.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return stem.substr(0, at);
}

bool EndsWithExtension(const std::string& name, std::string_view extension) {
    if (name.size() <= extension.size()) return false;
    const std::string_view end = std::string_view(name).substr(name.size() - extension.size());
    for (size_t i = 0; i < end.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(end[i])) != extension[i]) return false;
    }
    return true;
}

/// Whether `name` is something other than a regular file already (a device, a FIFO), which an
/// output is written to as it is named.
bool NamesADevice(const std::string& name) {
    struct stat info {};
    return stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

/// The folder a file output goes to, which must exist before any work.
bool FolderExists(const std::string& output) {
    const std::filesystem::path folder = std::filesystem::path(output).parent_path();
    std::error_code ec;
    return folder.empty() || std::filesystem::is_directory(folder, ec);
}

}  // namespace

std::string LineOutput(const std::string& path, bool inFolder, int number, int of) {
    if (path.empty() || !inFolder || of <= 1) return path;
    std::filesystem::path named(path);
    const std::string extension = named.extension().string();
    named.replace_extension();
    named += ".run-" + std::to_string(number) + extension;
    return named.string();
}

std::vector<int> LinesWritten(int lines, std::optional<int> run) {
    if (run) return *run <= std::max(lines, 1) ? std::vector<int>{*run} : std::vector<int>{};
    std::vector<int> numbers;
    for (int number = 1; number <= std::max(lines, 1); ++number) numbers.push_back(number);
    return numbers;
}

bool PlanOutputs(const std::vector<BookItem>& items, const std::string& saveTarget,
                 const std::string& pdfTarget, const LineCounter& countLines,
                 std::vector<BookPlan>& plans, std::string& refusal) {
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
        // A workbook named as a PDF, or a PDF as a workbook, is a slip of the hand.
        const Target& other = &target == &targets[0] ? targets[1] : targets[0];
        if (!target.folder && EndsWithExtension(target.given, other.extension)) {
            refusal = std::string(target.option) + " " + Shown(target.given) + " ends in " +
                      other.extension + ", the extension of the " + other.option + " output; " +
                      target.option + " writes a" +
                      (&target == &targets[0] ? " workbook (.xlsx)" : " PDF (.pdf)");
            return false;
        }
        if (!target.folder && !FolderExists(target.given)) {
            refusal = std::string(target.option) + " " + Shown(target.given) +
                      " is in a folder that does not exist";
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
    // A field book named as an output is an output's name left out, whatever is added to it.
    for (const Target& target : targets) {
        FileId id;
        if (!target.given.empty() && !target.folder &&
            (bookKeys.count(Key(target.given)) > 0 ||
             (Identify(target.given, id) && bookIds.count(id) > 0))) {
            refusal = std::string(target.option) + " " + Shown(target.given) +
                      " is a field book given; it is never written over";
            return false;
        }
    }
    // An output in a folder is named after its book, and a line of a book of several by its
    // number too (ring.run-2.xlsx): which, only the book's lines tell. Each book's outputs are
    // one family of names (ring.xlsx, ring.run-K.xlsx); where a family may meet another name
    // of the call, the book's lines are counted now and its names planned one by one.
    struct Family {
        size_t plan;
        const Target* target;
        std::string stem;  // the folder's key and the book's stem
    };
    std::vector<Family> families;
    // How many outputs take each name: a stem (the folder's key and the book's stem) with an
    // extension, or a line's output (ring.run-2.xlsx) counted under its book's stem.
    struct Name {
        std::string stem;
        std::string extension;
        bool line = false;  ///< a BOOK.run-K output, under BOOK
        auto operator<=>(const Name&) const = default;
    };
    std::map<Name, int> named;
    const auto note = [&](const std::string& key, const char* extension) {
        ++named[Name{key, extension}];
        if (const auto parent = RunParent(key)) ++named[Name{*parent, extension, true}];
    };
    for (const BookItem& item : items) {
        BookPlan plan{item.fieldBook, {}, {}, item};
        plan.index = plans.size();
        plan.saveInFolder = targets[0].folder;
        plan.pdfInFolder = targets[1].folder;
        const std::filesystem::path stem = std::filesystem::path(item.fieldBook).stem();
        for (const Target& target : targets) {
            if (target.given.empty()) continue;
            std::string& output = plan.*target.output;
            if (target.folder) {
                output = (std::filesystem::path(target.given) / stem).string() + target.extension;
                families.push_back(
                    {plans.size(), &target, Key(target.given) + "/" + stem.string()});
                note(families.back().stem, target.extension);
            } else if (EndsWithExtension(target.given, target.extension) ||
                       NamesADevice(target.given)) {
                output = target.given;
            } else {
                output = target.given + target.extension;  // "rep" gives rep.xlsx and rep.pdf
            }
        }
        plans.push_back(std::move(plan));
    }
    for (const std::string& key : bookKeys) {
        for (const Target& target : targets) {
            if (key.ends_with(target.extension)) {
                note(key.substr(0, key.size() - std::strlen(target.extension)), target.extension);
            }
        }
    }
    for (const BookPlan& plan : plans) {
        for (const Target& target : targets) {
            const std::string& output = plan.*target.output;
            if (!target.given.empty() && !target.folder && output.ends_with(target.extension)) {
                note(Key(output).substr(0, Key(output).size() - std::strlen(target.extension)),
                     target.extension);
            }
        }
    }

    // The names each output of each plan takes: a file as given; a family that meets no other
    // name its first name alone, which stands for all of it.
    std::vector<std::vector<std::pair<const Target*, std::string>>> names(plans.size());
    for (const BookPlan& plan : plans) {
        for (const Target& target : targets) {
            if (!target.given.empty() && !target.folder) {
                names[plan.index].emplace_back(&target, plan.*target.output);
            }
        }
    }
    for (const Family& family : families) {
        const BookPlan& plan = plans[family.plan];
        const std::string& base = plan.*family.target->output;
        const std::string extension = family.target->extension;
        const auto parent = RunParent(family.stem);
        const bool meets = named[Name{family.stem, extension}] > 1 ||
                           named.count(Name{family.stem, extension, true}) > 0 ||
                           (parent && named.count(Name{*parent, extension}) > 0);
        if (!meets) {
            names[family.plan].emplace_back(family.target, base);
            continue;
        }
        const std::optional<int> lines = countLines(plan.fieldBook);
        if (!lines) {
            refusal = std::string(family.target->option) + " outputs of " + Shown(plan.fieldBook) +
                      " may share their names with another of this call, and its levelling lines "
                      "cannot be counted before it is read (it is no regular file)";
            return false;
        }
        for (const int number : LinesWritten(*lines, plan.item.run)) {
            names[family.plan].emplace_back(family.target, LineOutput(base, true, number, *lines));
        }
    }

    std::map<std::string, std::pair<const std::string*, const char*>> taken;  // key -> book, option
    for (const BookPlan& plan : plans) {
        const std::string& book = plan.fieldBook;
        for (const auto& [target, output] : names[plan.index]) {
            FileId id;
            if (bookKeys.count(Key(output)) > 0 ||
                (Identify(output, id) && bookIds.count(id) > 0)) {
                refusal = std::string(target->option) + " " + Shown(output) +
                          " is a field book given; it is never written over";
                return false;
            }
            const auto [at, added] = taken.emplace(Key(output), std::pair{&book, target->option});
            if (!added) {
                // Say which books or options clash: two options of one book, one book given
                // twice, or two books whose outputs share a name.
                const std::string& earlier = *at->second.first;
                const std::string_view earlierOption = at->second.second;
                if (earlier == book && earlierOption != target->option) {
                    refusal = "--save and --pdf name the same file " + Shown(output) +
                              "; one would replace the other";
                } else if (earlier == book) {
                    refusal = Shown(book) + " is given twice; its " + target->option +
                              " outputs would both be " + Shown(output);
                } else {
                    refusal = Shown(earlier) + " and " + Shown(book) +
                              " would both be written to " + Shown(output) + " (" + target->option +
                              ")";
                }
                return false;
            }
        }
    }
    return true;
}

}  // namespace rendle::cli
