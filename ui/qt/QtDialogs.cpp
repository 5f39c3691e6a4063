// Message boxes, the open-file dialog and modal dialogs on Qt Widgets.
#include "QtDialogs.h"

#include "FileSystem.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

namespace tessera {

namespace {

IDialogs* gDialogs = nullptr;

QString FromBytes(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

} // namespace

IDialogs& Dialogs()
{
    static QtDialogs qtDialogs;
    return gDialogs ? *gDialogs : qtDialogs;
}

void SetDialogs(IDialogs* dialogs) { gDialogs = dialogs; }

void QtDialogs::MsgBox(QWidget* owner, const std::string& text, const std::string& title)
{
    QMessageBox box(owner);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(FromBytes(title));
    box.setTextFormat(Qt::PlainText);
    // A CR before the LF would show as a stray glyph on some platforms.
    box.setText(FromBytes(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

bool QtDialogs::AskYesNo(QWidget* owner, const std::string& text, const std::string& title)
{
    QMessageBox box(owner);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(FromBytes(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(FromBytes(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    // Enter or Esc by mistake changes nothing in the game folder.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::string AnyCaseWildcard(std::string_view pattern)
{
    std::string result;
    for (const char c : pattern) {
        const bool lower = c >= 'a' && c <= 'z';
        const bool upper = c >= 'A' && c <= 'Z';
        if (lower || upper) {
            const char other = lower ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c - 'A' + 'a');
            result += '[';
            result += upper ? c : other;
            result += upper ? other : c;
            result += ']';
        } else {
            result += c;
        }
    }
    return result;
}

std::unique_ptr<QFileDialog> MakeOpenDialog(QWidget* owner, const std::string& title,
                                            const std::string& filterDescription, const std::string& pattern,
                                            const std::string& startFolder, const std::vector<FileFilter>& moreFilters)
{
    auto dialog = std::make_unique<QFileDialog>(owner, FromBytes(title), FromBytes(fs::NativePath(startFolder)));
    // Qt's own dialog on every platform, so the filter below behaves the same everywhere.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // Only the description shows; the widened pattern behind it stays out of sight.
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // The user may also type the name of a file that does not exist.
    dialog->setFileMode(QFileDialog::AnyFile);
    QStringList filters{FromBytes(filterDescription) + QStringLiteral(" (") + FromBytes(AnyCaseWildcard(pattern)) + QStringLiteral(")")};
    for (const FileFilter& more : moreFilters)
        filters << FromBytes(more.description) + QStringLiteral(" (") + FromBytes(AnyCaseWildcard(more.pattern)) + QStringLiteral(")");
    dialog->setNameFilters(filters);
    return dialog;
}

std::string QtDialogs::OpenFile(QWidget* owner, const std::string& title, const std::string& filterDescription,
                                const std::string& pattern, const std::string& startFolder,
                                const std::vector<FileFilter>& moreFilters)
{
    const auto dialog = MakeOpenDialog(owner, title, filterDescription, pattern, startFolder, moreFilters);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty())
        return {};
    return files.first().toLocal8Bit().toStdString();
}

void QtDialogs::ShowModal(QDialog& dialog) { dialog.exec(); }

} // namespace tessera
