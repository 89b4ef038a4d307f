#pragma once

// Rules files from the dialogs: choosing the file, asking whether to add or to replace, and
// telling what happened.

#include "rules/RulesFile.h"
#include "rules/RulesImport.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace kavo {

// What the dialogs ask of the desktop for rules files; tests put their own answers in.
struct RulesChoosers
{
    // A file to write (save) or to read; "" when the user cancels.
    std::function<QString(QWidget* parent, bool save)> ChooseFile;
    // Add or replace; nullopt when the user cancels.
    std::function<std::optional<ImportMode>(QWidget* parent)> AskMode;
    // A message; error: the operation failed.
    std::function<void(QWidget* parent, const QString& text, bool error)> Tell;
    // Lines of a list to take, the checked ones given first; nullopt when the user cancels.
    std::function<std::optional<std::vector<int>>(QWidget* parent, const QStringList& lines,
                                                  const std::vector<int>& checked)>
        ChooseLines;

    static RulesChoosers Desktop();
};

// Writes the rules to a file the user chooses and says so; false when cancelled or failed.
bool ExportRulesFile(QWidget* parent, const RulesChoosers& choosers, const RuleSet& rules);

struct ChosenImport
{
    RulesReading Reading;
    ImportMode Mode = ImportMode::Add;
};
// Reads a file the user chooses and asks how to take it; nullopt when cancelled, or when the file
// cannot be taken (which is then told, with the place of the fault).
std::optional<ChosenImport> ChooseRulesImport(QWidget* parent, const RulesChoosers& choosers);

// What an import did, in the words of the dialogs.
QString ImportSummaryMessage(const ImportSummary& summary);

} // namespace kavo
