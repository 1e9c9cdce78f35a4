#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/audio/SoundPath.h"
#include "app/replay/RecordingFile.h"

// Plays a recording in real time, over and over, into a sound path, as a device's capture would
// feed it: a thread of its own reads the file in pieces of a fragment's length (5 ms while any
// meter is fast, else 10 ms), waits on the steady clock until each piece would have been heard,
// and feeds it with the path's lock held, with the time it was due as its arrival. The preview
// plays it at the path's preview gain where a sound server takes it (best effort).
class RecordingPlayer {
  public:
    // Told, on the player's thread, why the recording cannot be played on; it then stops.
    using FailureHandler = std::function<void(const std::string& error)>;

    // Starts at once. `fast` is read before each piece, `pathLock` held around each feed.
    RecordingPlayer(std::unique_ptr<RecordingFile> recording, SoundPath& path, std::mutex& pathLock,
                    const std::atomic<bool>& fast, FailureHandler onFailure);
    // Stops the thread and waits for it; after this nothing more reaches the path.
    ~RecordingPlayer();
    RecordingPlayer(const RecordingPlayer&) = delete;
    RecordingPlayer& operator=(const RecordingPlayer&) = delete;

  private:
    void run();
    // Waits until `due`; false when asked to stop meanwhile.
    bool waitUntil(std::chrono::steady_clock::time_point due);
    // The next piece into `samples`: how many frames, 0 when the recording cannot go on.
    std::size_t readPiece(float* samples, std::size_t frames);

    const std::unique_ptr<RecordingFile> recording_;
    SoundPath& path_;
    std::mutex& pathLock_;
    const std::atomic<bool>& fast_;
    const FailureHandler onFailure_;
    // Frames read since the file last started over: none at its end is a file with no sound.
    std::int64_t framesThisTime_ = 0;

    std::mutex stopLock_;
    std::condition_variable stopAsked_;
    bool stopping_ = false;
    // Last, so that everything it uses is made before it starts.
    std::thread thread_;
};
