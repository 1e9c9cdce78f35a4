#pragma once

#include <sys/types.h>

#include <string_view>
#include <vector>

// The kernel ids of this process's threads that carry `name`.
std::vector<pid_t> threadsNamed(std::string_view name);
