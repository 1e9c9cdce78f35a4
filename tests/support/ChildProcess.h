#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Another program run by a test, with its standard streams connected to pipes. Killed on
// destruction if it still runs, so that a failing test leaves nothing behind.
class ChildProcess {
  public:
    // Starts `arguments[0]`, an absolute path, with the rest as its arguments.
    explicit ChildProcess(const std::vector<std::string>& arguments);
    // The same with standard output and standard error both on `outputs` (a terminal, a pipe of
    // the test's), which stays the caller's; output() and errorOutput() stay empty.
    ChildProcess(const std::vector<std::string>& arguments, int outputs);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    void writeInput(std::string_view text);
    void closeInput();

    // Collects output until `done` holds for it or `timeout` passes; returns the last answer.
    bool readUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    void sendSignal(int signal);
    // The exit status (128 + the signal's number when killed), or nothing when the program did
    // not end within `timeout`; it is killed then. Collects the rest of the output.
    std::optional<int> wait(std::chrono::milliseconds timeout);

    const std::string& output() const { return output_; }
    const std::string& errorOutput() const { return errorOutput_; }

  private:
    // Starts the program with the output pipes, or on `outputs` when it is not -1.
    void start(const std::vector<std::string>& arguments, int outputs);
    // Reads what the pipes hold, waiting at most `timeout` for something to arrive.
    void collectOutput(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int input_ = -1;
    int outputPipe_ = -1;
    int errorPipe_ = -1;
    std::string output_;
    std::string errorOutput_;
    std::optional<int> status_;
};

struct ProgramResult {
    std::optional<int> status;  // nothing when it had to be killed
    std::string output;
    std::string errorOutput;
};

// Runs a program to its end with `input` on its standard input.
ProgramResult runProgram(const std::vector<std::string>& arguments, std::string_view input = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
