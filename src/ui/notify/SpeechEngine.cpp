#include "ui/notify/SpeechEngine.h"

#include <QTextToSpeech>

#include <algorithm>

namespace kavo {

namespace {

class QtSpeechEngine : public SpeechEngine
{
public:
    explicit QtSpeechEngine(std::unique_ptr<QTextToSpeech> speech) : m_speech(std::move(speech)) {}

    void SetSpeed(int speed) override { m_speech->setRate(SpeechRate(speed)); }
    void Speak(const QString& text) override { m_speech->say(text); }
    void Stop() override { m_speech->stop(); }

private:
    std::unique_ptr<QTextToSpeech> m_speech;
};

} // namespace

std::unique_ptr<SpeechEngine> CreateQtSpeechEngine()
{
    if (QTextToSpeech::availableEngines().isEmpty())
        return nullptr;
    auto speech = std::make_unique<QTextToSpeech>();
    if (speech->state() == QTextToSpeech::Error)
        return nullptr;
    return std::make_unique<QtSpeechEngine>(std::move(speech));
}

double SpeechRate(int speed)
{
    constexpr double Middle = 135.0;
    return std::clamp((speed - Middle) / Middle, -1.0, 1.0);
}

} // namespace kavo
