#pragma once

// Other programs run by the series (the camera's command-line program, the
// target) and the interruption by Ctrl-C, which every wait here watches.
// Each system has its unit: ProcessPosix.cpp, ProcessWin32.cpp; what they
// share is in Process.cpp.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pruvex::series {

// Set by SIGINT (on Windows: Ctrl-C, Ctrl-Break or the console window
// closed); every wait below returns soon after.
bool Interrupted();
void InstallInterruptHandler();
// The series has ended: on Windows, a console's close waits for this, so
// that the target is ended and the manifest closed before the system ends
// the process.
void SeriesEnded();

// The program's full path from PATH (or as given when it holds a folder);
// nothing when there is none. Names are UTF-8.
std::optional<std::string> FindProgram(const std::string& name);
// The folder this program's file lies in (empty when unknown).
std::filesystem::path OwnFolder();

struct ProgramResult {
    bool Started = false;
    int Status = -1;    // exit status; -1 when ended by a signal
    std::string Output; // standard output and error together
};

// Runs a program to its end, its output collected. An interruption does not
// cut it short (a camera may be writing a file): it ends of itself, or is
// ended after a grace time; one that hangs for five minutes is ended too.
ProgramResult RunProgram(const std::vector<std::string>& args);

// A program with pipes to its standard input and output; its error output
// is the series'.
class Child {
  public:
    explicit Child(const std::vector<std::string>& args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Write(const std::string& line);
    // The next line of its output; nothing at its end, on an interruption or
    // after timeoutMs.
    std::optional<std::string> ReadLine(int timeoutMs);
    // Closes its input and waits up to graceMs for it to end, then kills it.
    void Finish(int graceMs);

  private:
    // Appends what its output gives within timeoutMs to buffer_; false at
    // its end.
    bool ReadSome(int timeoutMs);
    struct Pipes; // the system's handles
    std::unique_ptr<Pipes> pipes_;
    std::string buffer_;
};

// Lines from standard input, read without blocking past an interruption.
class Answers {
  public:
    // The next line (without its end); nothing at the end of input or on
    // an interruption.
    std::optional<std::string> Next();
    // A line if one is complete within timeoutMs; Ended() tells the end of
    // input apart.
    std::optional<std::string> Poll(int timeoutMs);
    bool Ended() const { return ended_; }

  private:
    std::optional<std::string> TakeLine();
    // Appends what standard input gives within timeoutMs to buffer_ (sets
    // ended_ at its end).
    void ReadSome(int timeoutMs);
    std::string buffer_;
    bool ended_ = false;
};

// Milliseconds from now to `end`, at least 0.
int MillisecondsLeft(std::chrono::steady_clock::time_point end);

} // namespace pruvex::series
