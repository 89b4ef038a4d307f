#pragma once

#include "settings/TkavoSetting.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QToolButton;

namespace kavo {

class FileEdit;

// The settings dialog's page for the rules file kavo follows: favorites and YPs shared with other
// machines through a synced folder.
class RulesFilePage : public QWidget
{
    Q_OBJECT

public:
    explicit RulesFilePage(QWidget* parent = nullptr);

    void Show(const TkavoSetting::RulesOptions& rules);
    void CopyTo(TkavoSetting::RulesOptions& rules) const;

    // The file to follow, which need not exist yet; "" when the user cancels.
    std::function<QString(QWidget* parent, const QString& current)> ChooseFile;

private:
    void followToggled(bool on);

    QCheckBox* m_follow;
    FileEdit* m_file;
    QToolButton* m_browse;
};

} // namespace kavo
