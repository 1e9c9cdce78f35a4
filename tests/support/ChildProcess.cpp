#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void closeIfOpen(int& fd) {
    if (fd != -1) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments) {
    start(arguments, -1);
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, int outputs) {
    start(arguments, outputs);
}

void ChildProcess::start(const std::vector<std::string>& arguments, int outputs) {
    // Writing to a program that has ended must fail, not kill the test.
    signal(SIGPIPE, SIG_IGN);
    int inputPipe[2], outputPipe[2], errorPipe[2];
    if (pipe2(inputPipe, O_CLOEXEC) != 0 || pipe2(outputPipe, O_CLOEXEC) != 0 ||
        pipe2(errorPipe, O_CLOEXEC) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outputs != -1 ? outputs : outputPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, outputs != -1 ? outputs : errorPipe[1], 2);
    // The child starts with no signal blocked, whatever the test's threads block.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(inputPipe[0]);
    close(outputPipe[1]);
    close(errorPipe[1]);
    input_ = inputPipe[1];
    outputPipe_ = outputPipe[0];
    errorPipe_ = errorPipe[0];
}

ChildProcess::~ChildProcess() {
    if (started() && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    closeIfOpen(input_);
    closeIfOpen(outputPipe_);
    closeIfOpen(errorPipe_);
}

void ChildProcess::writeInput(std::string_view text) {
    while (!text.empty() && input_ != -1) {
        const ssize_t written = write(input_, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

void ChildProcess::closeInput() {
    closeIfOpen(input_);
}

void ChildProcess::collectOutput(std::chrono::milliseconds timeout) {
    pollfd watched[2] = {{outputPipe_, POLLIN, 0}, {errorPipe_, POLLIN, 0}};
    if (poll(watched, 2, static_cast<int>(timeout.count())) <= 0) {
        return;
    }
    std::string* targets[2] = {&output_, &errorOutput_};
    int* pipes[2] = {&outputPipe_, &errorPipe_};
    for (int i = 0; i < 2; ++i) {
        if (watched[i].revents == 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t count = read(*pipes[i], chunk, sizeof(chunk));
        if (count > 0) {
            targets[i]->append(chunk, static_cast<size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            closeIfOpen(*pipes[i]);  // poll skips descriptors of -1 from now on
        }
    }
}

bool ChildProcess::readUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done() && Clock::now() < deadline && (outputPipe_ != -1 || errorPipe_ != -1)) {
        collectOutput(std::chrono::milliseconds(20));
    }
    return done();
}

void ChildProcess::sendSignal(int signal) {
    if (started() && !status_) {
        kill(pid_, signal);
    }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (!started()) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + timeout;
    while (!status_) {
        int rawStatus = 0;
        if (waitpid(pid_, &rawStatus, WNOHANG) == pid_) {
            status_ = WIFEXITED(rawStatus) ? WEXITSTATUS(rawStatus) : 128 + WTERMSIG(rawStatus);
            break;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;  // the destructor kills it
        }
        collectOutput(std::chrono::milliseconds(10));
    }
    // What the program wrote before it ended is still in the pipes.
    while (outputPipe_ != -1 || errorPipe_ != -1) {
        collectOutput(std::chrono::milliseconds(100));
        if (Clock::now() >= deadline + std::chrono::seconds(1)) {
            break;
        }
    }
    return status_;
}

ProgramResult runProgram(const std::vector<std::string>& arguments, std::string_view input,
                         std::chrono::milliseconds timeout) {
    ChildProcess program(arguments);
    program.writeInput(input);
    program.closeInput();
    const auto status = program.wait(timeout);
    return {status, program.output(), program.errorOutput()};
}
