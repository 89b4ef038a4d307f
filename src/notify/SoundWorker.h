#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavo {

// Plays one sound file at a time and waits for it.
class SoundFilePlayer
{
public:
    virtual ~SoundFilePlayer() = default;
    // Plays a sound file (file system path) and returns when it has ended. False when it could not
    // be played.
    virtual bool PlayFileSync(const std::string& path) = 0;
    // Called from another thread: ends the sound being played and refuses every later one.
    virtual void Cancel() = 0;
};

// libcanberra, connected on the first sound.
std::unique_ptr<SoundFilePlayer> CreateCanberraFilePlayer();

// Plays the sounds of the shown notifications one after another on a thread of its own. Within one
// run of the thread every distinct file plays once, in the order the files came; a later run may
// play it again. The main thread adds files and starts runs; the thread takes them.
class SoundWorker
{
public:
    // stop: asked before each file; true ends the run (the program is closing).
    SoundWorker(std::unique_ptr<SoundFilePlayer> player, std::function<bool()> stop);
    // Ends the running sound and waits for the thread.
    ~SoundWorker();
    SoundWorker(const SoundWorker&) = delete;
    SoundWorker& operator=(const SoundWorker&) = delete;

    // Appends sound files (CP932 paths) to the pending ones.
    void Add(const std::vector<std::string>& files);
    bool HasPending() const;
    // Starts a run unless one is going on: the running one finds the new files. threadPriority is
    // the Priority/KAVOThread index; 0 leaves the thread's priority alone.
    void Start(int threadPriority);
    bool Running() const;
    // Waits until the current run has ended.
    void Wait();

private:
    void run(int threadPriority);

    std::unique_ptr<SoundFilePlayer> m_player;
    std::function<bool()> m_stop;
    mutable std::mutex m_lock;
    std::deque<std::string> m_pending; // guarded by m_lock
    bool m_running = false;            // guarded by m_lock
    std::atomic<bool> m_terminate = false;
    std::thread m_thread; // used by the main thread only
};

} // namespace kavo
