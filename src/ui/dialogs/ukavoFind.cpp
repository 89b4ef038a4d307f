#include "ui/dialogs/ukavoFind.h"

#include "common/ukavoCommon.h"
#include "core/ChannelSearch.h"
#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"

#include "ui_ukavoFind.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QShortcut>

#include <fstream>
#include <sstream>

namespace kavo {

TkavoFind::TkavoFind(FindState& state, TkavoCommon& common, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TkavoFind>()), m_state(state), m_common(common)
{
    m_ui->setupUi(this);
    m_ui->ComboBoxFind->setAccessibleName(QString::fromUtf8("検索する文字列"));
    setFixedSize(size());
    if (parent)
        setFont(parent->font());
    m_ui->ComboBoxFind->setCompleter(nullptr);
    m_ui->ComboBoxFind->installEventFilter(this);
    m_ui->ComboBoxFind->lineEdit()->installEventFilter(this);
    m_ui->CheckBoxKeepFind->setChecked(m_state.KeepFind);
    m_ui->CheckBoxMoveResultsUp->setChecked(m_state.MoveResultsUp);
    connect(m_ui->ButtonOK, &QPushButton::clicked, this, &TkavoFind::accept);
    connect(m_ui->ButtonCancel, &QPushButton::clicked, this, &TkavoFind::reject);
    // F3 opens the dialog from the main window; pressed again it closes it.
    auto* f3 = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(f3, &QShortcut::activated, this, &TkavoFind::reject);
    loadHistory();
}

TkavoFind::~TkavoFind() = default;

std::string TkavoFind::HistoryFile()
{
    return ProgramFolder() + "/find.txt";
}

QStringList TkavoFind::History() const
{
    QStringList items;
    for (int i = 0; i < m_ui->ComboBoxFind->count(); ++i)
        items.append(m_ui->ComboBoxFind->itemText(i));
    return items;
}

void TkavoFind::loadHistory()
{
    std::ifstream in(HistoryFile(), std::ios::binary);
    if (!in)
        return;
    std::string line;
    while (std::getline(in, line) && m_ui->ComboBoxFind->count() < HistoryLimit) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            m_ui->ComboBoxFind->addItem(QString::fromStdString(Cp932ToUtf8(line)));
    }
    m_ui->ComboBoxFind->setCurrentIndex(-1);
    m_ui->ComboBoxFind->clearEditText();
}

void TkavoFind::saveHistory() const
{
    std::string text;
    for (const QString& item : History())
        text += Utf8ToCp932(item.toStdString()) + "\r\n";
    std::ofstream out(HistoryFile(), std::ios::binary | std::ios::trunc);
    out << text;
}

void TkavoFind::remember(const QString& text)
{
    QStringList items = History();
    items.removeAll(text);
    items.prepend(text);
    while (items.size() > HistoryLimit)
        items.removeLast();
    m_ui->ComboBoxFind->clear();
    m_ui->ComboBoxFind->addItems(items);
    m_ui->ComboBoxFind->setCurrentIndex(0);
}

void TkavoFind::showEvent(QShowEvent* event)
{
    if (!m_ui->CheckBoxKeepFind->isChecked()) {
        m_state.FindValue.clear();
        m_ui->ComboBoxFind->setCurrentIndex(-1);
        m_ui->ComboBoxFind->clearEditText();
    }
    QDialog::showEvent(event);
    m_ui->ComboBoxFind->setFocus();
    m_ui->ComboBoxFind->lineEdit()->selectAll();
}

bool TkavoFind::eventFilter(QObject* watched, QEvent* event)
{
    // Down opens the history instead of stepping through it; Enter confirms, which the editable
    // box would otherwise keep for itself.
    if ((watched == m_ui->ComboBoxFind || watched == m_ui->ComboBoxFind->lineEdit()) &&
        event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier) {
            m_ui->ComboBoxFind->showPopup();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TkavoFind::accept()
{
    const std::string input = TrimSearchInput(Utf8ToCp932(m_ui->ComboBoxFind->currentText().toStdString()));
    m_state.FindValue.clear();
    if (!input.empty()) {
        remember(QString::fromStdString(Cp932ToUtf8(input)));
        m_state.FindValue = MakeSearchPattern(input, m_common.RegExp);
    }
    m_common.FindValue2 = m_state.FindValue;
    m_state.KeepFind = m_ui->CheckBoxKeepFind->isChecked();
    m_state.MoveResultsUp = m_ui->CheckBoxMoveResultsUp->isChecked();
    QDialog::accept();
}

void TkavoFind::done(int result)
{
    saveHistory();
    QDialog::done(result);
}

} // namespace kavo
