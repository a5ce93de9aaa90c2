#include "series/Process.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cwchar>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace pruvex::series {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::atomic<bool> interrupted{false};
HANDLE ended = nullptr; // set when the series has ended

// Ctrl-C, Ctrl-Break and the console window closed. A close ends the
// process once this returns: it waits until the series has ended the target
// and closed its files (the system gives 5 s).
BOOL WINAPI OnControl(DWORD event) {
    interrupted = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(ended, 4000);
    }
    return TRUE;
}

std::wstring Widen(const std::string& text) {
    const std::u8string u8(text.begin(), text.end());
    return fs::path(u8).wstring();
}

std::string Narrow(const std::wstring& wide) {
    const std::u8string u8 = fs::path(wide).u8string();
    return {u8.begin(), u8.end()};
}

// One argument as programs read their command line back into arguments.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted.push_back(c);
        backslashes = 0;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// Every program the series starts: killed when the series ends in any way,
// its own death included (the last handle of the job closes with it).
HANDLE Job() {
    static const HANDLE job = [] {
        const HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created != nullptr) {
            SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                    sizeof limits);
        }
        return created;
    }();
    return job;
}

HANDLE Inheritable(HANDLE handle) {
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

// Starts a program in the job with these standard handles (inheritable;
// nothing else is inherited) in a process group of its own, so that the
// console's Ctrl-C is for the series alone: it decides when its children
// end (a camera may be writing a file). The process's handle, or nothing.
HANDLE Spawn(const std::vector<std::string>& args, HANDLE in, HANDLE out, HANDLE err) {
    std::wstring line;
    for (const std::string& arg : args) {
        line += (line.empty() ? L"" : L" ") + Quoted(Widen(arg));
    }
    std::vector<HANDLE> handles;
    for (const HANDLE handle : {in, out, err}) {
        if (handle != nullptr &&
            std::find(handles.begin(), handles.end(), handle) == handles.end()) {
            handles.push_back(handle);
        }
    }
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    InitializeProcThreadAttributeList(attributes, 1, 0, &size);
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                              handles.size() * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = in;
    info.StartupInfo.hStdOutput = out;
    info.StartupInfo.hStdError = err;
    info.lpAttributeList = attributes;
    PROCESS_INFORMATION process{};
    const std::wstring program = Widen(args.front());
    const bool started =
        CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                       nullptr, nullptr, &info.StartupInfo, &process) != 0;
    DeleteProcThreadAttributeList(attributes);
    if (!started) {
        return nullptr;
    }
    AssignProcessToJobObject(Job(), process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    return process.hProcess;
}

// An end of a new pipe that a child inherits, and the end this process keeps.
bool MakePipe(HANDLE& read, HANDLE& write, bool childReads) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &security, 0)) {
        return false;
    }
    SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

void Close(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

// Waits up to graceMs for a process to end, then kills it; its exit
// status, -1 when killed.
int WaitFor(HANDLE process, int graceMs) {
    if (WaitForSingleObject(process, static_cast<DWORD>(graceMs)) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        return -1;
    }
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    return static_cast<int>(status);
}

// Bytes waiting in a pipe; nothing once it is broken (the writer gone).
std::optional<DWORD> Waiting(HANDLE pipe) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
        return std::nullopt;
    }
    return available;
}

void ReadWaiting(HANDLE pipe, DWORD available, std::string& into) {
    char chunk[4096];
    DWORD read = 0;
    if (ReadFile(pipe, chunk, std::min<DWORD>(available, sizeof chunk), &read, nullptr)) {
        into.append(chunk, read);
    }
}

// Standard input, read on a thread of its own: a console's lines as
// characters (UTF-8 here), a pipe's or a file's bytes as they come.
class Input {
  public:
    static Input& Get() {
        static Input input;
        return input;
    }
    // What came within timeoutMs; false at the end with nothing left.
    bool Take(std::string& into, int timeoutMs) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return !text_.empty() || ended_; });
        into += text_;
        text_.clear();
        return !ended_;
    }

  private:
    Input() {
        std::thread([this] { Read(); }).detach();
    }
    void Read() {
        const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        const bool console = GetConsoleMode(in, &mode) != 0;
        for (;;) {
            std::string text;
            if (console) {
                wchar_t chunk[512];
                DWORD read = 0;
                if (!ReadConsoleW(in, chunk, 512, &read, nullptr) &&
                    GetLastError() != ERROR_OPERATION_ABORTED) {
                    break;
                }
                // Ctrl-C in the middle of a line reads nothing.
                text = Narrow(std::wstring(chunk, read));
            } else {
                char chunk[1024];
                DWORD read = 0;
                if (!ReadFile(in, chunk, sizeof chunk, &read, nullptr) || read == 0) {
                    break;
                }
                text.assign(chunk, read);
            }
            const std::lock_guard lock(mutex_);
            text_ += text;
            arrived_.notify_all();
        }
        const std::lock_guard lock(mutex_);
        ended_ = true;
        arrived_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string text_;
    bool ended_ = false;
};

} // namespace

bool Interrupted() {
    return interrupted;
}

void InstallInterruptHandler() {
    ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

void SeriesEnded() {
    if (ended != nullptr) {
        SetEvent(ended);
    }
}

std::optional<std::string> FindProgram(const std::string& name) {
    std::error_code error;
    const fs::path given = Widen(name);
    if (name.find_first_of("/\\:") != std::string::npos) {
        return fs::is_regular_file(given, error) ? std::optional(name) : std::nullopt;
    }
    const wchar_t* path = _wgetenv(L"PATH");
    std::wstring_view rest = path != nullptr ? path : L"";
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(L';');
        const std::wstring_view dir = rest.substr(0, semicolon);
        rest =
            semicolon == std::wstring_view::npos ? std::wstring_view() : rest.substr(semicolon + 1);
        for (const fs::path& candidate :
             {fs::path(dir) / given, fs::path(dir) / (given.wstring() + L".exe")}) {
            if (!dir.empty() && fs::is_regular_file(candidate, error)) {
                return Narrow(candidate.wstring());
            }
        }
    }
    return std::nullopt;
}

fs::path OwnFolder() {
    std::wstring name(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    name.resize(length);
    return length == 0 ? fs::path() : fs::path(name).parent_path();
}

ProgramResult RunProgram(const std::vector<std::string>& args) {
    ProgramResult result;
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!MakePipe(read, write, false)) {
        return result;
    }
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                             OPEN_EXISTING, 0, nullptr);
    if (nul == INVALID_HANDLE_VALUE) {
        nul = nullptr;
    }
    // A program that cannot be started at once (its file held a moment, as
    // a virus scanner does after a write) is tried again for two seconds.
    HANDLE process = Spawn(args, nul, write, write);
    for (int attempt = 0; process == nullptr && attempt < 20; ++attempt) {
        Sleep(100);
        process = Spawn(args, nul, write, write);
    }
    Close(write);
    Close(nul);
    if (process == nullptr) {
        Close(read);
        return result;
    }
    result.Started = true;
    // A program that hangs (a camera that never answers) is ended after a
    // few minutes; after an interruption it gets a grace time to finish.
    Clock::time_point deadline = Clock::now() + std::chrono::minutes(5);
    bool graceSet = false;
    for (;;) {
        if (Interrupted() && !graceSet) {
            deadline = std::min(deadline, Clock::now() + std::chrono::seconds(30));
            graceSet = true;
        }
        if (Clock::now() >= deadline) {
            TerminateProcess(process, 1);
        }
        const std::optional<DWORD> available = Waiting(read);
        if (!available) {
            break;
        }
        if (*available > 0) {
            ReadWaiting(read, *available, result.Output);
        } else if (WaitForSingleObject(process, 20) == WAIT_OBJECT_0 && Waiting(read) == 0) {
            // Ended, and whatever it wrote has been read (a program it
            // started may hold the pipe).
            break;
        }
    }
    Close(read);
    result.Status = WaitFor(process, 30000);
    CloseHandle(process);
    return result;
}

struct Child::Pipes {
    HANDLE Process = nullptr;
    HANDLE In = nullptr;
    HANDLE Out = nullptr;
};

Child::Child(const std::vector<std::string>& args) : pipes_(std::make_unique<Pipes>()) {
    HANDLE childIn = nullptr;
    HANDLE childOut = nullptr;
    if (!MakePipe(childIn, pipes_->In, true)) {
        throw std::runtime_error("no pipe");
    }
    if (!MakePipe(pipes_->Out, childOut, false)) {
        Close(childIn);
        throw std::runtime_error("no pipe");
    }
    HANDLE err = Inheritable(GetStdHandle(STD_ERROR_HANDLE));
    pipes_->Process = Spawn(args, childIn, childOut, err);
    Close(childIn);
    Close(childOut);
    Close(err);
    if (pipes_->Process == nullptr) {
        Close(pipes_->In);
        Close(pipes_->Out);
        throw std::runtime_error("cannot start " + args.front());
    }
}

Child::~Child() {
    Finish(0);
}

bool Child::Write(const std::string& line) {
    std::size_t done = 0;
    while (pipes_->In != nullptr && done < line.size()) {
        DWORD written = 0;
        if (!WriteFile(pipes_->In, line.data() + done, static_cast<DWORD>(line.size() - done),
                       &written, nullptr) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return pipes_->In != nullptr;
}

bool Child::ReadSome(int timeoutMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pipes_->Out != nullptr) {
        const std::optional<DWORD> available = Waiting(pipes_->Out);
        if (!available) {
            Close(pipes_->Out);
            return false;
        }
        if (*available > 0) {
            ReadWaiting(pipes_->Out, *available, buffer_);
            return true;
        }
        if (Clock::now() >= end) {
            return true;
        }
        // A pipe gives no event to wait for: it is looked at again soon.
        WaitForSingleObject(pipes_->Process, 5);
    }
    return false;
}

void Child::Finish(int graceMs) {
    Close(pipes_->In);
    Close(pipes_->Out);
    if (pipes_->Process != nullptr) {
        WaitFor(pipes_->Process, graceMs);
        Close(pipes_->Process);
    }
}

void Answers::ReadSome(int timeoutMs) {
    if (!Input::Get().Take(buffer_, timeoutMs)) {
        ended_ = true;
    }
}

} // namespace pruvex::series
