#include "series/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace pruvex::series {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int /*signal*/) {
    interrupted = 1;
}

using Clock = std::chrono::steady_clock;

// Starts a program with the given descriptors as its standard input,
// output and error (-1: /dev/null for input, inherited for the others).
int Spawn(const std::vector<std::string>& args, int in, int out, int err,
          const std::vector<int>& closeInChild, bool endWithSeries = false) {
    const pid_t series = getpid();
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The terminal's Ctrl-C is for the series alone, in a process group
        // of its own: it decides when its children end (a camera may be
        // writing a file).
        setpgid(0, 0);
        signal(SIGINT, SIG_IGN);
#ifdef __linux__
        // The target ends with a series killed, rather than stay on screen.
        if (endWithSeries && (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != series)) {
            _exit(127);
        }
#else
        (void)endWithSeries;
        (void)series;
#endif
        if (in < 0) {
            in = open("/dev/null", O_RDONLY);
        }
        dup2(in, 0);
        if (out >= 0) {
            dup2(out, 1);
        }
        if (err >= 0) {
            dup2(err, 2);
        }
        for (const int fd : closeInChild) {
            close(fd);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int WaitFor(int pid, int graceMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(graceMs);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (Clock::now() >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(5000);
    }
}

} // namespace

bool Interrupted() {
    return interrupted != 0;
}

void SeriesEnded() {}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

std::optional<std::string> FindProgram(const std::string& name) {
    namespace fs = std::filesystem;
    if (name.find('/') != std::string::npos) {
        return access(name.c_str(), X_OK) == 0 ? std::optional(name) : std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        const fs::path candidate = fs::path(dir.empty() ? "." : std::string(dir)) / name;
        std::error_code error;
        if (fs::is_regular_file(candidate, error) && access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return std::nullopt;
}

std::filesystem::path OwnFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

ProgramResult RunProgram(const std::vector<std::string>& args) {
    ProgramResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    const int pid = Spawn(args, -1, fds[1], fds[1], {fds[0]});
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return result;
    }
    result.Started = true;
    // A program that hangs (a camera that never answers) is ended after a
    // few minutes; after an interruption it gets a grace time to finish.
    Clock::time_point deadline = Clock::now() + std::chrono::minutes(5);
    bool graceSet = false;
    char chunk[4096];
    for (;;) {
        if (Interrupted() && !graceSet) {
            deadline = std::min(deadline, Clock::now() + std::chrono::seconds(30));
            graceSet = true;
        }
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        result.Output.append(chunk, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    result.Status = WaitFor(pid, 30000);
    if (result.Status == 127) {
        result.Started = false;
    }
    return result;
}

struct Child::Pipes {
    int Pid = -1;
    int In = -1;
    int Out = -1;
};

Child::Child(const std::vector<std::string>& args) : pipes_(std::make_unique<Pipes>()) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipe");
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        throw std::runtime_error("no pipe");
    }
    pipes_->Pid = Spawn(args, toChild[0], fromChild[1], -1, {toChild[1], fromChild[0]}, true);
    close(toChild[0]);
    close(fromChild[1]);
    pipes_->In = toChild[1];
    pipes_->Out = fromChild[0];
    if (pipes_->Pid < 0) {
        throw std::runtime_error("cannot start " + args.front());
    }
}

Child::~Child() {
    Finish(0);
}

bool Child::Write(const std::string& line) {
    if (pipes_->In < 0) {
        return false;
    }
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = write(pipes_->In, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool Child::ReadSome(int timeoutMs) {
    if (pipes_->Out < 0) {
        return false;
    }
    pollfd p{pipes_->Out, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
        return true;
    }
    char chunk[4096];
    const ssize_t n = read(pipes_->Out, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) {
        return true;
    }
    if (n <= 0) {
        close(pipes_->Out);
        pipes_->Out = -1;
        return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

void Child::Finish(int graceMs) {
    if (pipes_->In >= 0) {
        close(pipes_->In);
        pipes_->In = -1;
    }
    if (pipes_->Out >= 0) {
        close(pipes_->Out);
        pipes_->Out = -1;
    }
    if (pipes_->Pid > 0) {
        WaitFor(pipes_->Pid, graceMs);
        pipes_->Pid = -1;
    }
}

void Answers::ReadSome(int timeoutMs) {
    pollfd p{0, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
        return;
    }
    char chunk[1024];
    const ssize_t n = read(0, chunk, sizeof chunk);
    if (n > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        ended_ = true;
    }
}

} // namespace pruvex::series
