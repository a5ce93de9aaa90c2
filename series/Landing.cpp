#include "series/Landing.h"

#include "series/Files.h"
#include "series/Stop.h"

#include "measure/FileNames.h"
#include "measure/RawFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>

namespace pruvex::series {

namespace fs = std::filesystem;

namespace {

constexpr auto StableFor = std::chrono::seconds(1);
constexpr auto GiveUpAfter = std::chrono::seconds(60);
// A JPEG waits this long for the raw file of its shot to appear.
constexpr auto PairWithin = std::chrono::seconds(3);

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

fs::path Stem(const fs::path& file) {
    return Lower(measure::Utf8Name(file.parent_path() / file.stem()));
}

bool LooksLikePicture(const fs::path& file) {
    const std::string extension = Lower(measure::Utf8Name(file.extension()));
    if (extension == ".jpg" || extension == ".jpeg" || extension == ".heic" ||
        extension == ".heif" || extension == ".hif") {
        return true;
    }
    std::array<char, 3> head{};
    std::ifstream in(file, std::ios::binary);
    return in.read(head.data(), head.size()) && static_cast<unsigned char>(head[0]) == 0xFF &&
           static_cast<unsigned char>(head[1]) == 0xD8 &&
           static_cast<unsigned char>(head[2]) == 0xFF;
}

Landing::Landing(fs::path dir, std::ostream& out) : dir_(std::move(dir)), out_(out) {
    std::error_code error;
    fs::directory_iterator check(dir_, error);
    if (error) {
        throw Stop{ExitSetup,
                   measure::Utf8Name(dir_) + ": cannot be read (" + error.message() + ")"};
    }
    done_ = List();
}

std::set<fs::path> Landing::List() const {
    std::set<fs::path> files;
    std::error_code error;
    auto entry = fs::recursive_directory_iterator(
        dir_, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        const std::string name = measure::Utf8Name(entry->path().filename());
        if (name.empty() || name.front() == '.') {
            if (entry->is_directory(error)) {
                entry.disable_recursion_pending();
            }
            continue;
        }
        if (entry->is_regular_file(error)) {
            files.insert(entry->path());
        }
    }
    return files;
}

void Landing::PassOver(const fs::path& file, const std::string& line) {
    out_ << line << '\n' << std::flush;
    done_.insert(file);
    fresh_.erase(file);
}

bool Landing::Settled(const fs::path& file, Seen& seen, const std::set<fs::path>& fresh) {
    const auto now = Clock::now();
    const std::string name = measure::Utf8Name(fs::relative(file, dir_));
    if (rawStems_.contains(Stem(file))) {
        done_.insert(file); // the JPEG of a raw shot taken
        return false;
    }
    if (LooksLikePicture(file)) {
        // Its raw file may still come.
        const bool paired = std::any_of(fresh.begin(), fresh.end(), [&](const fs::path& other) {
            return other != file && Stem(other) == Stem(file);
        });
        if (!paired && now - seen.Appeared >= PairWithin) {
            PassOver(file, "a JPEG arrived, " + name + ": set the camera to save raw files");
        }
        return false;
    }
    if (seen.Tried) {
        return false; // not read whole at this size: wait for it to change
    }
    seen.Tried = true;
    measure::RawResult raw = measure::ReadRaw(measure::Utf8Name(file));
    if (raw.Ok) {
        read_ = std::move(raw);
        rawStems_.insert(Stem(file));
        done_.insert(file);
        fresh_.erase(file);
        return true;
    }
    lastError_[file] = raw.Error;
    return false;
}

std::optional<fs::path> Landing::Look() {
    const auto now = Clock::now();
    std::set<fs::path> fresh;
    for (const fs::path& file : List()) {
        if (!done_.contains(file)) {
            fresh.insert(file);
        }
    }
    for (const fs::path& file : fresh) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(file, error);
        if (error) {
            continue;
        }
        const auto [at, added] = fresh_.try_emplace(file, Seen{size, now, now, false});
        Seen& seen = at->second;
        if (!added && seen.Size != size) {
            seen = Seen{size, now, seen.Appeared, false};
        }
        if (size > 0 && now - seen.Changed >= StableFor && OpenableAlone(file) &&
            Settled(file, seen, fresh)) {
            return file;
        }
        if (fresh_.contains(file) && now - seen.Appeared >= GiveUpAfter) {
            const auto why = lastError_.find(file);
            PassOver(file, measure::Utf8Name(fs::relative(file, dir_)) +
                               ": still incomplete after 60 s (" +
                               (why != lastError_.end() ? why->second : "still written to") +
                               "): passed over");
        }
    }
    return std::nullopt;
}

} // namespace pruvex::series
