#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/settings/store/PreferencesStore.h"
#include "transport/MainLoop.h"

// A running program's settings: read and set in memory on the main thread, written to the file by
// a thread of its own, so that a stalled disk (a hung network share, a slow stick, a full disk)
// never holds up the tick that sends the cues. commit() hands what was set since the last one to
// the writer and returns at once; the writes reach the file in order, a later one taking the place
// of one still waiting. A write the file refused is told on the main thread.
class QueuedPreferencesStore : public PreferencesStore {
  public:
    using Opener = std::function<std::unique_ptr<PreferencesStore>()>;
    using FailureHandler = std::function<void(const std::string& failure)>;

    // Opens the file store with `open` on the writer thread, which alone touches it from then on
    // (a Qt settings object answers its own update events on the thread it was made on), and
    // waits for its keys. `mainLoop` carries the outcomes of the writes to the main thread.
    QueuedPreferencesStore(const Opener& open, MainLoop& mainLoop);
    // Waits for the writes as finish() does, without a word.
    ~QueuedPreferencesStore() override;
    QueuedPreferencesStore(const QueuedPreferencesStore&) = delete;
    QueuedPreferencesStore& operator=(const QueuedPreferencesStore&) = delete;

    std::optional<std::string> stringForKey(std::string_view key) const override;
    std::vector<std::string> storedKeys() const override;
    void setString(std::string_view key, std::optional<std::string> value) override;
    // Hands the writes over and returns at once: nothing. A refused write goes to the failure
    // handler, or to whoever asked whenWritten() about it.
    std::optional<std::string> commit() override;
    void whenWritten(std::function<void(const std::optional<std::string>&)> then) override;

    // Told of a refused write that nobody asked whenWritten() about.
    void setFailureHandler(FailureHandler handler);
    // Waits at most `limit` for the writes handed over, then lets the writer go; nothing when they
    // all reached the file, otherwise why not. Nothing more is told on the main loop after it.
    std::optional<std::string> finish(std::chrono::milliseconds limit);

  private:
    struct Writer;

    std::shared_ptr<Writer> writer_;
    std::thread thread_;
    // What the file holds once the writes handed over are done, and what was set since.
    std::map<std::string, std::string, std::less<>> values_;
    std::map<std::string, std::optional<std::string>, std::less<>> changes_;
};
