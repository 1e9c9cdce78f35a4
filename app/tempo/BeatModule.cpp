#include "app/tempo/BeatModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

constexpr const char* moduleFile = "kestrano-beats.so";

}  // namespace

BeatModule openBeatModule(std::span<const std::string> paths) {
    for (const std::string& path : paths) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            continue;
        }
        // Never closed: aubio's codecs are not all safe to unload, and a second detection takes
        // the module already there.
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* reason = dlerror();
            return {nullptr, reason != nullptr ? reason : path + " cannot be loaded"};
        }
        using Entry = const KestranoBeatFunctions* (*)();
        const auto entry = reinterpret_cast<Entry>(dlsym(handle, "kestrano_beat_functions"));
        const KestranoBeatFunctions* functions = entry != nullptr ? entry() : nullptr;
        if (functions == nullptr || functions->version != kestranoBeatFunctionsVersion) {
            return {nullptr, path + " is not this build's beat tracker"};
        }
        // The module stays loaded: the functions live as long as the program.
        return {std::shared_ptr<const KestranoBeatFunctions>(functions, [](auto*) {}), {}};
    }
    return {nullptr, std::string(moduleFile) + " is not installed"};
}

std::vector<std::string> beatModulePaths() {
    std::array<char, 4096> self{};
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (length <= 0) {
        return {};
    }
    const std::filesystem::path folder =
        std::filesystem::path(std::string(self.data(), static_cast<std::size_t>(length)))
            .parent_path();
    return {(folder / moduleFile).string(),
            (folder / KESTRANO_MODULE_FROM_PROGRAM / moduleFile).string()};
}
