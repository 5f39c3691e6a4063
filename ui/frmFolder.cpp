// The "Choose a folder" dialog in Qt.
#include "frmFolder.h"

#include "QtLayout.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace tessera {

namespace {

QString FromBytes(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

} // namespace

frmFolder::frmFolder(const std::string& text, const std::vector<std::string>& folders, QWidget* owner) : QDialog(owner)
{
    BuildDialog(*this, kFolderLayout);
    auto& question = Control<QLabel>(*this, "lblFolderQuestion");
    question.setWordWrap(true);
    question.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    question.setText(FromBytes(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    lstFolders = &Control<QListWidget>(*this, "lstFolders");
    for (const std::string& folder : folders)
        lstFolders->addItem(FromBytes(folder));
    lstFolders->setCurrentRow(0);
    lstFolders->setFocus();

    connect(&Control<QPushButton>(*this, "cmdFolderOk"), &QPushButton::clicked, this, &QDialog::accept);
    connect(&Control<QPushButton>(*this, "cmdFolderCancel"), &QPushButton::clicked, this, &QDialog::reject);
    connect(lstFolders, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

std::optional<std::size_t> frmFolder::Chosen() const
{
    const int row = lstFolders->currentRow();
    if (result() != QDialog::Accepted || row < 0)
        return std::nullopt;
    return static_cast<std::size_t>(row);
}

} // namespace tessera
