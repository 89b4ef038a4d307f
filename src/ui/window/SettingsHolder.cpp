#include "ui/window/SettingsHolder.h"

#include "net/ukavoNet.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"

#include <vector>

namespace kavo {

SettingsHolder::SettingsHolder(TkavoSetting& setting, TkavoNet& net, QObject* parent)
    : QObject(parent), m_setting(setting), m_net(net)
{}

void SettingsHolder::Load(const IniFile& settingsFile)
{
    m_setting.LoadFrom(settingsFile);
}

void SettingsHolder::Reload(const TkavoSetting* cancelled)
{
    const TkavoSetting before = m_setting;
    m_setting.Load();
    // A YP the cancelled edit had removed lost its channels with it, as the entry it comes back as
    // is a new one.
    std::vector<std::string> removed;
    if (cancelled)
        for (const TkavoYpItem& yp : m_setting.YpList)
            if (!cancelled->YpList.HasUrl(yp.Url))
                removed.push_back(yp.Url);
    m_net.SettingsReloaded(removed);
    emit Changed(before, m_setting);
}

std::optional<std::string> SettingsHolder::Commit(const TkavoSetting& edited)
{
    try {
        edited.Save();
    } catch (const IniWriteError& error) {
        // The file is as it was; the edits hold for this run.
        const TkavoSetting before = m_setting;
        m_setting = edited;
        m_net.SettingsEdited();
        emit Changed(before, m_setting);
        return std::string(error.what());
    }
    const TkavoSetting before = m_setting;
    m_setting.Load();
    m_net.SettingsEdited();
    emit Changed(before, m_setting);
    return std::nullopt;
}

} // namespace kavo
