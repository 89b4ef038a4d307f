#pragma once

#include <memory>
#include <string>

struct ca_context;

namespace kavo {

// A libcanberra context named after the program, or null when it cannot be made.
ca_context* CreateSoundContext();

// Sound output as the desktop provides it. Both calls return at once; the sound plays on.
class WavePlayer
{
public:
    virtual ~WavePlayer() = default;
    // Plays a sound file (file system path). False when playback could not start.
    virtual bool PlayFile(const std::string& path) = 0;
    // Plays an event sound of the desktop's sound theme ("message", "dialog-error", ...).
    virtual bool PlayEvent(const std::string& eventId) = 0;
};

// The desktop's sound theme and output through libcanberra. A new sound stops the one still
// playing, so quick clicks through a list of sounds do not pile up.
std::unique_ptr<WavePlayer> CreateCanberraPlayer();

} // namespace kavo
