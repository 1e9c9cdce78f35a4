#include "tests/support/Threads.h"

#include <filesystem>
#include <fstream>
#include <string>

std::vector<pid_t> threadsNamed(std::string_view name) {
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string threadName;
        if (std::getline(comm, threadName) && threadName == name) {
            found.push_back(static_cast<pid_t>(std::stol(task.path().filename().string())));
        }
    }
    return found;
}
