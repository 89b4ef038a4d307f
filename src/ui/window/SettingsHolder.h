#pragma once

#include <QObject>

#include <optional>
#include <string>

namespace kavo {

class IniFile;
class TkavoNet;
class TkavoSetting;

// The settings the program runs on. They change only here: loaded from the settings file again,
// or committed from a dialog's edited copy. The retrieval
// module's records follow every change at once; every other part follows Changed and takes on
// what concerns it.
class SettingsHolder : public QObject
{
    Q_OBJECT

public:
    // Both must outlive the holder.
    SettingsHolder(TkavoSetting& setting, TkavoNet& net, QObject* parent = nullptr);

    const TkavoSetting& Current() const { return m_setting; }
    // Start-up: the settings file as the program read it. The parts are set up from the result
    // rather than told of a change.
    void Load(const IniFile& settingsFile);
    // Loads the settings file again. cancelled: the edited copy of a dialog that was cancelled,
    // whose removed YPs start again without channels.
    void Reload(const TkavoSetting* cancelled = nullptr);
    // Saves edited settings and loads them back; the retrieval keeps the lists, logs and counters of
    // every YP whose Url stayed. When the file cannot be written the edits are taken on in memory
    // all the same, and the reason (CP932) is returned.
    std::optional<std::string> Commit(const TkavoSetting& edited);

signals:
    // The settings are after what they were before; after is Current().
    void Changed(const TkavoSetting& before, const TkavoSetting& after);

private:
    TkavoSetting& m_setting;
    TkavoNet& m_net;
};

} // namespace kavo
