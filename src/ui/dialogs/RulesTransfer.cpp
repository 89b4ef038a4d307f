#include "ui/dialogs/RulesTransfer.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kavo {
namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QString Counts(const char* name, ImportMode mode, const ImportSummary::Counts& counts)
{
    if (!counts.Present)
        return {};
    if (mode == ImportMode::Replace)
        return U("%1: %2 件を %3 件で置き換えました\n").arg(U(name)).arg(counts.Replaced).arg(counts.Added);
    QString text = U("%1: %2 件を追加しました").arg(U(name)).arg(counts.Added);
    if (counts.Skipped > 0)
        text += U("（%1 件は登録済みのため省きました）").arg(counts.Skipped);
    return text + QLatin1Char('\n');
}

} // namespace

RulesChoosers RulesChoosers::Desktop()
{
    RulesChoosers choosers;
    choosers.ChooseFile = [](QWidget* parent, bool save) {
        const QString filter = U("ルールファイル (*.json);;すべてのファイル (*)");
        if (save)
            return QFileDialog::getSaveFileName(parent, U("ルールファイルへ書き出す"),
                                                QStringLiteral("kavo-rules.json"), filter);
        return QFileDialog::getOpenFileName(parent, U("ルールファイルから読み込む"), QString(), filter);
    };
    choosers.AskMode = [](QWidget* parent) -> std::optional<ImportMode> {
        QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                        U("読み込んだルールをどう扱いますか。\n\n"
                          "追加: 今のルールに、まだないものを加えます。\n"
                          "置き換え: ファイルにある一覧で今の一覧を置き換えます。"),
                        QMessageBox::NoButton, parent);
        QPushButton* add = box.addButton(U("追加"), QMessageBox::AcceptRole);
        QPushButton* replace = box.addButton(U("置き換え"), QMessageBox::DestructiveRole);
        box.addButton(U("キャンセル"), QMessageBox::RejectRole);
        box.setDefaultButton(add);
        box.exec();
        if (box.clickedButton() == add)
            return ImportMode::Add;
        if (box.clickedButton() == replace)
            return ImportMode::Replace;
        return std::nullopt;
    };
    choosers.Tell = [](QWidget* parent, const QString& text, bool error) {
        if (error)
            QMessageBox::warning(parent, QApplication::applicationDisplayName(), text);
        else
            QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
    };
    choosers.ChooseLines = [](QWidget* parent, const QStringList& lines,
                              const std::vector<int>& checked) -> std::optional<std::vector<int>> {
        QDialog dialog(parent);
        dialog.setWindowTitle(U("書き出すお気に入り"));
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLabel(U("書き出すものにチェックを付けてください。"), &dialog));
        auto* list = new QListWidget(&dialog);
        for (int i = 0; i < lines.size(); ++i) {
            auto* line = new QListWidgetItem(lines[i], list);
            line->setFlags(line->flags() | Qt::ItemIsUserCheckable);
            const bool on = std::find(checked.begin(), checked.end(), i) != checked.end();
            line->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        }
        layout->addWidget(list);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        std::vector<int> chosen;
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->checkState() == Qt::Checked)
                chosen.push_back(i);
        return chosen;
    };
    return choosers;
}

bool ExportRulesFile(QWidget* parent, const RulesChoosers& choosers, const RuleSet& rules)
{
    const QString file = choosers.ChooseFile(parent, true);
    if (file.isEmpty())
        return false;
    try {
        WriteRulesFile(file.toStdString(), RulesText(rules));
    } catch (const RulesError& error) {
        choosers.Tell(parent, U("書き出せませんでした。\n\n") + QString::fromStdString(error.what()), true);
        return false;
    }
    const std::size_t favorites = rules.Favorites ? rules.Favorites->size() : 0;
    const std::size_t yps = rules.Yps ? rules.Yps->size() : 0;
    QString what = U("お気に入り %1 件").arg(favorites);
    if (rules.Yps)
        what += U("と YP %1 件").arg(yps);
    choosers.Tell(parent, U("%1を %2 に書き出しました。").arg(what, file), false);
    return true;
}

std::optional<ChosenImport> ChooseRulesImport(QWidget* parent, const RulesChoosers& choosers)
{
    const QString file = choosers.ChooseFile(parent, false);
    if (file.isEmpty())
        return std::nullopt;
    ChosenImport chosen;
    try {
        chosen.Reading = ParseRules(ReadRulesFile(file.toStdString()));
    } catch (const RulesError& error) {
        choosers.Tell(
            parent,
            U("読み込めませんでした。何も変更していません。\n\n%1\n%2").arg(file, QString::fromStdString(error.what())),
            true);
        return std::nullopt;
    }
    const std::optional<ImportMode> mode = choosers.AskMode(parent);
    if (!mode)
        return std::nullopt;
    chosen.Mode = *mode;
    return chosen;
}

QString ImportSummaryMessage(const ImportSummary& summary)
{
    QString text = Counts("お気に入り", summary.Mode, summary.Favorites) + Counts("YP", summary.Mode, summary.Yps);
    if (text.isEmpty())
        text = U("ファイルにはお気に入りも YP もありません。\n");
    if (!summary.Notes.empty()) {
        text += U("\n注意:\n");
        for (const std::string& note : summary.Notes)
            text += QString::fromStdString(note) + QLatin1Char('\n');
    }
    return text.trimmed();
}

} // namespace kavo
