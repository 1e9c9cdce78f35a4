#include "app/settings/store/QueuedPreferencesStore.h"

#include <pthread.h>

#include <QCoreApplication>
#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

namespace {

using Changes = std::map<std::string, std::optional<std::string>, std::less<>>;
using Then = std::function<void(const std::optional<std::string>&)>;

// The commits handed over and not yet taken by the writer, as one: a later value of a key takes
// the place of an earlier one.
struct Batch {
    Changes changes;
    // The number of the last commit in it.
    uint64_t upTo = 0;
};

}  // namespace

struct QueuedPreferencesStore::Writer : std::enable_shared_from_this<Writer> {
    explicit Writer(MainLoop& loop) : mainLoop(loop) {}

    // The writer thread's loop: takes batches until told to stop with nothing left.
    void run(std::unique_ptr<PreferencesStore> file);
    // Tells the outcome of the commits up to `upTo` on the main thread. Called under the lock.
    void tell(uint64_t upTo, const std::optional<std::string>& failure);

    MainLoop& mainLoop;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::optional<Batch> queued;
    bool writing = false;
    std::optional<std::string> lastFailure;
    // Main thread only, from the store and from what the writer posts; the outcome of a commit is
    // told after the main thread's event that made it, so whoever asks about it then is told.
    uint64_t committed = 0;
    // The last commit whose outcome reached the main thread, and that outcome: who asks after it
    // waits for nothing.
    uint64_t toldUpTo = 0;
    std::optional<std::string> toldFailure;
    std::vector<std::pair<uint64_t, Then>> thens;
    FailureHandler failed;
    bool stopping = false;
    // Off once finish() returned: the main loop may be gone.
    bool telling = true;
};

void QueuedPreferencesStore::Writer::run(std::unique_ptr<PreferencesStore> file) {
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return queued || stopping; });
        if (!queued) {
            break;
        }
        Batch batch = std::move(*queued);
        queued.reset();
        writing = true;
        lock.unlock();
        for (auto& [key, value] : batch.changes) {
            file->setString(key, std::move(value));
        }
        std::optional<std::string> failure = file->commit();
        // The settings object's own update requests, which the main loop answered before.
        QCoreApplication::sendPostedEvents();
        lock.lock();
        writing = false;
        lastFailure = failure;
        tell(batch.upTo, failure);
        idle.notify_all();
    }
    lock.unlock();
    file.reset();  // on the thread it belongs to
}

void QueuedPreferencesStore::Writer::tell(uint64_t upTo,
                                          const std::optional<std::string>& failure) {
    if (!telling) {
        return;
    }
    mainLoop.postToMainThread([self = shared_from_this(), upTo, failure] {
        if (!self->telling) {
            return;  // finish() returned: whoever would be told may be gone
        }
        self->toldUpTo = upTo;
        self->toldFailure = failure;
        std::vector<Then> told;
        std::erase_if(self->thens, [&](std::pair<uint64_t, Then>& then) {
            if (then.first > upTo) {
                return false;
            }
            told.push_back(std::move(then.second));
            return true;
        });
        if (failure && told.empty() && self->failed) {
            self->failed(*failure);
        }
        for (const Then& then : told) {
            then(failure);
        }
    });
}

QueuedPreferencesStore::QueuedPreferencesStore(const Opener& open, MainLoop& mainLoop)
    : writer_(std::make_shared<Writer>(mainLoop)) {
    std::promise<std::map<std::string, std::string, std::less<>>> opened;
    std::future<std::map<std::string, std::string, std::less<>>> keys = opened.get_future();
    // The writer holds its state, so that one let go of at exit with a write stalled still has it.
    thread_ = std::thread([writer = writer_, &open, opened = std::move(opened)]() mutable {
        pthread_setname_np(pthread_self(), "settings-writer");
        std::unique_ptr<PreferencesStore> file = open();
        std::map<std::string, std::string, std::less<>> values;
        for (std::string& key : file->storedKeys()) {
            if (std::optional<std::string> value = file->stringForKey(key)) {
                values.emplace(std::move(key), std::move(*value));
            }
        }
        opened.set_value(std::move(values));
        writer->run(std::move(file));
    });
    values_ = keys.get();
}

QueuedPreferencesStore::~QueuedPreferencesStore() {
    finish(std::chrono::seconds(5));
}

std::optional<std::string> QueuedPreferencesStore::stringForKey(std::string_view key) const {
    const auto found = values_.find(key);
    return found != values_.end() ? std::optional(found->second) : std::nullopt;
}

std::vector<std::string> QueuedPreferencesStore::storedKeys() const {
    std::vector<std::string> keys;
    for (const auto& [key, value] : values_) {
        keys.push_back(key);
    }
    return keys;
}

void QueuedPreferencesStore::setString(std::string_view key, std::optional<std::string> value) {
    if (stringForKey(key) == value) {
        return;  // as the file store does: a key nobody changed keeps its line
    }
    if (value) {
        values_.insert_or_assign(std::string(key), *value);
    } else {
        values_.erase(values_.find(key));
    }
    changes_.insert_or_assign(std::string(key), std::move(value));
}

std::optional<std::string> QueuedPreferencesStore::commit() {
    // Handed over even when nothing changed: the writer still finds out a file that is no longer
    // writable, as a save always did.
    std::lock_guard lock(writer_->mutex);
    if (!writer_->queued) {
        writer_->queued.emplace();
    }
    for (auto& [key, value] : std::exchange(changes_, {})) {
        writer_->queued->changes.insert_or_assign(key, std::move(value));
    }
    writer_->queued->upTo = ++writer_->committed;
    writer_->wake.notify_one();
    return std::nullopt;
}

void QueuedPreferencesStore::whenWritten(Then then) {
    if (writer_->toldUpTo == writer_->committed) {
        then(writer_->toldFailure);  // as a store that writes at commit() does
        return;
    }
    writer_->thens.emplace_back(writer_->committed, std::move(then));
}

void QueuedPreferencesStore::setFailureHandler(FailureHandler handler) {
    writer_->failed = std::move(handler);
}

std::optional<std::string> QueuedPreferencesStore::finish(std::chrono::milliseconds limit) {
    if (!thread_.joinable()) {
        return std::nullopt;
    }
    std::unique_lock lock(writer_->mutex);
    writer_->stopping = true;
    writer_->telling = false;
    writer_->wake.notify_one();
    const bool done = writer_->idle.wait_for(
        lock, limit, [this] { return !writer_->queued && !writer_->writing; });
    std::optional<std::string> failure = writer_->lastFailure;
    lock.unlock();
    if (!done) {
        // A stalled disk may never give the thread back; the process ends without it.
        thread_.detach();
        return "the disk did not answer within " + std::to_string(limit.count()) + " ms";
    }
    thread_.join();
    return failure;
}
