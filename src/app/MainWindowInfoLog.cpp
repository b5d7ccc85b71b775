// The main window's info log: at most kMaxInfoLines lines, the last one
// also in the status bar, and with --verbose on standard error.
#include "app/MainWindow.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdio>

namespace {

constexpr int kMaxInfoLines = 26;

}  // namespace

void TfrmMain::AddInfoLine(const QString& text)
{
    QTextDocument* document = moInfo->document();
    if (document->blockCount() >= kMaxInfoLines && !moInfo->toPlainText().isEmpty()) {
        QTextCursor cursor(document->firstBlock());
        cursor.select(QTextCursor::BlockUnderCursor);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    moInfo->appendPlainText(text);
    sbMessage->showMessage(text);
    if (options_.verbose) {
        const QByteArray line
            = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toUtf8() + text.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
    }
}

void TfrmMain::moInfoDblClick()
{
    moInfo->clear();
}
