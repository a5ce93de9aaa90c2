#include "measure/FileNames.h"

#include <algorithm>

#ifdef _WIN32

#include "console/Console.h"

#include <windows.h>

#include <shellapi.h>

#include <iostream>
#include <streambuf>
#include <string_view>

#endif

namespace pruvex::measure {

#ifdef _WIN32

namespace {

std::wstring Widen(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

// A standard stream's text collected and handed to the console unit when
// the stream is flushed (std::cerr after every output, std::cout on a
// flush or at the end).
class ConsoleBuffer : public std::streambuf {
  public:
    ConsoleBuffer(std::ostream& stream, console::Kind kind)
        : stream_(stream), kind_(kind), original_(stream.rdbuf(this)) {}
    ~ConsoleBuffer() override {
        sync();
        stream_.rdbuf(original_);
    }
    ConsoleBuffer(const ConsoleBuffer&) = delete;
    ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            text_ += traits_type::to_char_type(c);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        text_.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int sync() override {
        if (!text_.empty()) {
            console::Write(kind_, text_);
            text_.clear();
        }
        return 0;
    }

  private:
    std::ostream& stream_;
    console::Kind kind_;
    std::streambuf* original_;
    std::string text_;
};

// Upper case as the file system compares names.
std::wstring Upper(const std::wstring& text) {
    std::wstring upper = text;
    if (!upper.empty()) {
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(),
                      static_cast<int>(text.size()), upper.data(), static_cast<int>(upper.size()),
                      nullptr, nullptr, 0);
    }
    return upper;
}

// Whether the name matches the pattern, '*' any run of characters, '?' any
// one; both in upper case.
bool Matches(std::wstring_view pattern, std::wstring_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::wstring_view::npos; // the last '*' seen, and where its run ends
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            starName = n;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

// The folders or the files in a folder (named with its separator at the
// end, or empty for the current one) whose names match the pattern (in upper
// case), sorted by name. They are matched here rather than by FindFirstFile,
// which also matches the short 8.3 names ("*.NEF" would find "X.NEFX").
std::vector<std::wstring> Entries(const std::wstring& folder, const std::wstring& pattern,
                                  bool folders) {
    std::vector<std::pair<std::wstring, std::wstring>> found; // upper case, as written
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return {};
    }
    do {
        const std::wstring_view written = entry.cFileName;
        const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (written == L"." || written == L".." || isFolder != folders) {
            continue;
        }
        std::wstring upper = Upper(entry.cFileName);
        if (Matches(pattern, upper)) {
            found.emplace_back(std::move(upper), written);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(found.begin(), found.end());
    std::vector<std::wstring> paths;
    paths.reserve(found.size());
    for (const auto& [upper, written] : found) {
        paths.push_back(folder + written);
    }
    return paths;
}

} // namespace

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
    // The standard streams stay redirected until the program ends.
    static ConsoleBuffer out(std::cout, console::Kind::Information);
    static ConsoleBuffer err(std::cerr, console::Kind::Error);
    // The progress line moves the cursor with terminal sequences.
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode)) {
        SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    std::vector<std::string> arguments;
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) {
            arguments.push_back(Narrow(wide[i]));
        }
        LocalFree(wide);
    }
    return arguments;
}

std::optional<std::vector<std::string>> ExpandWildcards(const std::string& name) {
    const std::wstring wide = Widen(name);
    // ("\\?\C:\..." is a name without wildcards.)
    const std::size_t wildcard = wide.find_first_of(L"*?", wide.starts_with(L"\\\\?\\") ? 4 : 0);
    if (wildcard == std::wstring::npos) {
        return std::vector<std::string>{name};
    }
    // What comes before the first part with a wildcard is taken as written;
    // from there on each part gives the folders it matches, the last part
    // the files.
    const std::size_t start = wide.find_last_of(L"\\/:", wildcard);
    std::vector<std::wstring> paths{start == std::wstring::npos ? L"" : wide.substr(0, start + 1)};
    std::size_t at = start == std::wstring::npos ? 0 : start + 1;
    for (;;) {
        const std::size_t end = wide.find_first_of(L"\\/", at);
        const bool last = end == std::wstring::npos;
        const std::wstring part = wide.substr(at, last ? std::wstring::npos : end - at);
        const std::wstring separator = last ? L"" : wide.substr(end, 1);
        std::vector<std::wstring> next;
        for (const std::wstring& path : paths) {
            if (!last && part.find_first_of(L"*?") == std::wstring::npos) {
                next.push_back(path);
                next.back().append(part).append(separator);
                continue;
            }
            for (const std::wstring& entry : Entries(path, Upper(part), !last)) {
                next.push_back(entry + separator);
            }
        }
        paths = std::move(next);
        if (last) {
            break;
        }
        at = end + 1;
    }
    if (paths.empty()) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    names.reserve(paths.size());
    for (const std::wstring& path : paths) {
        names.push_back(Narrow(path));
    }
    return names;
}

#else

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return {argv + std::min(argc, 1), argv + argc};
}

std::optional<std::vector<std::string>> ExpandWildcards(const std::string& name) {
    return std::vector<std::string>{name};
}

#endif

} // namespace pruvex::measure
