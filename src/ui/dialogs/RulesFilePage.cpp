#include "ui/dialogs/RulesFilePage.h"

#include "ui/Cp932Text.h"
#include "ui/dialogs/ukavoConfig.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace kavo {

RulesFilePage::RulesFilePage(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* about =
        new QLabel(QString::fromUtf8("お気に入りと YP をルールファイル (JSON) にしておくと、同期フォルダを通じて"
                                     "他のパソコンの kavo と同じルールを使えます。"),
                   this);
    about->setWordWrap(true);
    layout->addWidget(about);

    m_follow = new QCheckBox(QString::fromUtf8("ルールファイルに追従する"), this);
    m_follow->setObjectName(QStringLiteral("rulesCheckBoxFollow"));
    layout->addWidget(m_follow);

    auto* fileRow = new QGridLayout;
    fileRow->addWidget(new QLabel(QString::fromUtf8("ファイル"), this), 0, 0);
    m_file = new FileEdit(this);
    m_file->setObjectName(QStringLiteral("rulesEditFile"));
    m_file->setPlaceholderText(QStringLiteral("~/Sync/kavo-rules.json"));
    fileRow->addWidget(m_file, 0, 1);
    m_browse = new QToolButton(this);
    m_browse->setObjectName(QStringLiteral("rulesButtonFile"));
    m_browse->setText(QStringLiteral("..."));
    fileRow->addWidget(m_browse, 0, 2);
    layout->addLayout(fileRow);

    auto* how =
        new QLabel(QString::fromUtf8("ほかで書き換えられたファイルはすぐに読み込み、kavo で変えたお気に入りと YP は"
                                     "ファイルへ書き戻します。読み込めない内容のときは今のルールのままにして、"
                                     "そのことを一度だけ知らせます。ファイルがまだなければ今のルールで作ります。"),
                   this);
    how->setWordWrap(true);
    layout->addWidget(how);
    layout->addStretch(1);

    ChooseFile = [](QWidget* owner, const QString& current) {
        return QFileDialog::getSaveFileName(owner, QString::fromUtf8("追従するルールファイル"),
                                            current.isEmpty() ? QStringLiteral("kavo-rules.json") : current,
                                            QString::fromUtf8("ルールファイル (*.json);;すべてのファイル (*)"), nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    connect(m_follow, &QCheckBox::toggled, this, &RulesFilePage::followToggled);
    connect(m_browse, &QToolButton::clicked, this, [this] {
        const QString chosen = ChooseFile(this, m_file->text());
        if (!chosen.isEmpty())
            m_file->setText(chosen);
    });
    followToggled(false);
}

void RulesFilePage::Show(const TkavoSetting::RulesOptions& rules)
{
    m_follow->setChecked(rules.Follow);
    m_file->setText(FromCp932(rules.File));
    followToggled(rules.Follow);
}

void RulesFilePage::CopyTo(TkavoSetting::RulesOptions& rules) const
{
    rules.Follow = m_follow->isChecked();
    rules.File = ToCp932(m_file->text().trimmed());
}

void RulesFilePage::followToggled(bool on)
{
    m_file->setEnabled(on);
    m_browse->setEnabled(on);
}

} // namespace kavo
