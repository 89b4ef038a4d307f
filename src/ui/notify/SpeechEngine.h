#pragma once

#include <QString>

#include <memory>

namespace kavo {

// What the notifications need of a speech engine: a speed, speak a text, stop speaking.
class SpeechEngine
{
public:
    virtual ~SpeechEngine() = default;
    // Speed on the settings' scale, 0 (slowest) to 270 (fastest).
    virtual void SetSpeed(int speed) = 0;
    virtual void Speak(const QString& text) = 0;
    virtual void Stop() = 0;
};

// The desktop's speech service through Qt TextToSpeech; null when no engine can be started.
std::unique_ptr<SpeechEngine> CreateQtSpeechEngine();

// The settings' speed 0..270 on Qt's rate scale -1..1; values outside the range are clamped.
double SpeechRate(int speed);

} // namespace kavo
