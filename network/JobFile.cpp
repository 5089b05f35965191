#include "network/JobFile.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "core/Corrections.h"
#include "core/RunState.h"
#include "core/ToleranceClasses.h"
#include "grid/NumberFormat.h"

namespace rendle::network {

namespace {

namespace fs = std::filesystem;

/// A path of the file as the job holds it: relative ones from the job file's folder.
std::string FromJobFolder(const fs::path& folder, std::string_view value) {
    const fs::path path(value);
    if (path.is_absolute() || folder.empty()) return std::string(value);
    return (folder / path).string();
}

/// A path as the job file keeps it: relative to the job file's folder when it lies in or below
/// it, else absolute.
std::string ToJobFolder(const fs::path& folder, const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error) return path;
    const fs::path base = fs::absolute(folder.empty() ? fs::path(".") : folder, error);
    if (error) return absolute.string();
    const fs::path relative =
        absolute.lexically_normal().lexically_relative(base.lexically_normal());
    if (relative.empty() || *relative.begin() == "..") return absolute.lexically_normal().string();
    return relative.string();
}

struct Range {
    double low;
    double high;
};

/// One job file's reading: what each word sets.
class JobReader {
  public:
    JobReader(const std::string& path) : path_(path), folder_(fs::path(path).parent_path()) {}

    NetworkJob Read(std::string_view text) {
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            ++line_;
            Take(text.substr(start, end - start));
            start = end + 1;
        }
        if (line_ == 0 || !seenHeading_)
            Fail("this is no Rendle network job (it does not begin \"" +
                 std::string(kJobFileHeading) + "\")");
        return job_;
    }

  private:
    [[noreturn]] void Fail(const std::string& why) const {
        throw NetworkError(path_ + ":" + std::to_string(std::max(line_, size_t{1})) + ": " + why);
    }

    void Take(std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line_ == 1) {
            if (line.substr(0, kJobFileHeading.size()) != kJobFileHeading) {
                Fail("this is no Rendle network job (it does not begin \"" +
                     std::string(kJobFileHeading) + "\")");
            }
            seenHeading_ = true;
            return;
        }
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') return;
        line.remove_prefix(first);
        const size_t gap = line.find_first_of(" \t");
        const std::string word(line.substr(0, gap));
        std::string_view value = gap == std::string_view::npos ? "" : line.substr(gap);
        value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
            value.remove_suffix(1);
        }
        if (value.empty()) Fail(word + " without a value");
        Set(word, std::string(value));
    }

    double Number(const std::string& word, const std::string& value, Range range) const {
        const std::optional<double> number = core::ParseDecimalText(value);
        if (!number) Fail(word + " " + value + ": not a number");
        if (*number < range.low || *number > range.high) {
            Fail(word + " " + value + ": not in " + grid::GeneralNumberText(range.low) + " to " +
                 grid::GeneralNumberText(range.high));
        }
        return *number;
    }

    void OneOf(const std::string& word, const std::string& value,
               std::initializer_list<const char*> words) const {
        std::string all;
        for (const char* w : words) {
            if (value == w) return;
            all += (all.empty() ? "" : ", ") + std::string(w);
        }
        Fail(word + " " + value + ": not one of " + all);
    }

    void Once(const std::string& word) {
        if (!single_.insert(word).second) Fail(word + " is given twice");
    }

    void Set(const std::string& word, const std::string& value) {
        AdjustmentOptions& options = job_.options;
        if (word == "input") {
            job_.inputs.push_back(FromJobFolder(folder_, value));
            return;
        }
        if (word == "fix" || word == "approx") {
            (word == "fix" ? job_.fixes : job_.approx).push_back(value);
            return;
        }
        if (word == "point" || word == "datum") {
            // A list as the command line takes it: A,B,...
            std::vector<std::string>& names = word == "point" ? job_.points : job_.datum;
            std::stringstream list(value);
            for (std::string name; std::getline(list, name, ',');) {
                if (!name.empty()) names.push_back(name);
            }
            return;
        }
        Once(word);
        if (word == "benchmarks") {
            job_.benchmarksFile = FromJobFolder(folder_, value);
        } else if (word == "coordinates") {
            job_.coordinatesFile = FromJobFolder(folder_, value);
        } else if (word == "weights") {
            OneOf(word, value, {"length", "setups", "sigma"});
            job_.weights = value;
        } else if (word == "sigma-km") {
            options.sigmaKmMm = Number(word, value, {0.001, 1000});
        } else if (word == "sigma-setup") {
            options.sigmaSetUpMm = Number(word, value, {0.001, 1000});
        } else if (word == "alpha") {
            options.alpha = Number(word, value, {1e-9, 0.5});
        } else if (word == "alpha0") {
            options.alpha0 = Number(word, value, {1e-9, 0.5});
        } else if (word == "confidence") {
            options.confidence = Number(word, value, {0.5, 0.9999});
            job_.confidenceGiven = true;
        } else if (word == "snoop") {
            OneOf(word, value, {"off", "while", "always"});
            job_.snoop = value == "off" ? "" : value;
        } else if (word == "class") {
            if (!core::FindToleranceClass(value)) {
                Fail("class " + value + ": no class Rendle knows (rendle-net --class list)");
            }
            job_.classId = value;
        } else if (word == "colour-by") {
            OneOf(word, value, {"w", "redundancy"});
            job_.colourBy = value;
        } else if (word == "order") {
            OneOf(word, value, {"natural", "input"});
            job_.order = value;
        } else if (word == "encoding") {
            job_.encoding = value;
        } else if (word == "staffs") {
            job_.staffsFile = FromJobFolder(folder_, value);
        } else if (word == "staff") {
            std::stringstream list(value);
            for (std::string name; std::getline(list, name, ',');) {
                if (!name.empty()) job_.staffs.push_back(name);
            }
        } else if (word == "temperature") {
            job_.temperature = Number(word, value, {core::kColdestStaff, core::kHottestStaff});
        } else if (word == "curvature-refraction") {
            job_.refraction = Number(word, value, {core::kLeastRefraction, core::kMostRefraction});
        } else if (word == "class-file") {
            job_.classFile = FromJobFolder(folder_, value);
        } else if (word == "normal-orthometric") {
            job_.normalOrthometric = true;
            job_.positionsFile = FromJobFolder(folder_, value);
        } else if (word == "normal-orthometric-form") {
            OneOf(word, value, {"latitude", "geodesic"});
            job_.normalOrthometricForm = value == "geodesic" ? NormalOrthometricForm::Geodesic
                                                             : NormalOrthometricForm::Latitude;
        } else {
            Fail("\"" + word + "\" is no word of a network job");
        }
    }

    std::string path_;
    fs::path folder_;
    size_t line_ = 0;
    bool seenHeading_ = false;
    std::set<std::string, std::less<>> single_;
    NetworkJob job_;
};

}  // namespace

NetworkJob ReadJobFile(std::string_view text, const std::string& path) {
    return JobReader(path).Read(text);
}

NetworkJob LoadJobFile(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        throw NetworkError("cannot read " + path + ": a folder, not a job file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw NetworkError("cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw NetworkError("cannot read " + path);
    return ReadJobFile(text.str(), path);
}

std::string JobFileText(const NetworkJob& job, const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    std::string text = std::string(kJobFileHeading) + "\n";
    const auto line = [&text](const std::string& word, const std::string& value) {
        if (value.find_first_of("\r\n") != std::string::npos) {
            throw NetworkError("a job file cannot hold " + word + " \"" + value +
                               "\": the name holds a line end");
        }
        text += word + " " + value + "\n";
    };
    for (const std::string& input : job.inputs) line("input", ToJobFolder(folder, input));
    if (!job.benchmarksFile.empty()) line("benchmarks", ToJobFolder(folder, job.benchmarksFile));
    for (const std::string& fix : job.fixes) line("fix", fix);
    for (const std::string& point : job.points) line("point", point);
    for (const std::string& datum : job.datum) line("datum", datum);
    for (const std::string& approx : job.approx) line("approx", approx);
    if (!job.coordinatesFile.empty()) {
        line("coordinates", ToJobFolder(folder, job.coordinatesFile));
    }
    const AdjustmentOptions& options = job.options;
    if (!job.weights.empty()) line("weights", job.weights);
    line("sigma-km", grid::GeneralNumberText(options.sigmaKmMm));
    line("sigma-setup", grid::GeneralNumberText(options.sigmaSetUpMm));
    line("alpha", grid::GeneralNumberText(options.alpha));
    line("alpha0", grid::GeneralNumberText(options.alpha0));
    if (job.confidenceGiven) line("confidence", grid::GeneralNumberText(options.confidence));
    line("snoop", job.snoop.empty() ? "off" : job.snoop);
    if (!job.classId.empty()) line("class", job.classId);
    if (!job.classFile.empty()) line("class-file", ToJobFolder(folder, job.classFile));
    line("colour-by", job.colourBy);
    line("order", job.order);
    if (!job.encoding.empty()) line("encoding", job.encoding);
    if (!job.staffsFile.empty()) line("staffs", ToJobFolder(folder, job.staffsFile));
    if (!job.staffs.empty()) {
        std::string staffs;
        for (const std::string& s : job.staffs) staffs += (staffs.empty() ? "" : ",") + s;
        line("staff", staffs);
    }
    if (job.temperature) line("temperature", grid::GeneralNumberText(*job.temperature));
    if (job.refraction) line("curvature-refraction", grid::GeneralNumberText(*job.refraction));
    if (job.normalOrthometric) line("normal-orthometric", ToJobFolder(folder, job.positionsFile));
    if (job.normalOrthometric && job.normalOrthometricForm == NormalOrthometricForm::Geodesic) {
        line("normal-orthometric-form", "geodesic");
    }
    return text;
}

}  // namespace rendle::network
