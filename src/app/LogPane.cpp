#include "app/LogPane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

QString LogEntryText(ByteView entry)
{
    QString text = QString::fromStdString(LogEntryShown(entry));
    text.replace(QChar('\n'), QChar(QChar::LineSeparator));  // one block per entry
    return text;
}

TLogPane::TLogPane(QPlainTextEdit* pane) : QObject(pane), FPane(pane), FTimer(new QTimer(this))
{
    FPane->setMaximumBlockCount(MaxEntries);
    FTimer->setSingleShot(true);
    FTimer->setInterval(30);
    connect(FTimer, &QTimer::timeout, this, [this] { Flush(); });
}

void TLogPane::PendingStarted()
{
    if (!FTimer->isActive())
        FTimer->start();
}

void TLogPane::Flush()
{
    if (!HasPending())
        return;
    QScrollBar* bar = FPane->verticalScrollBar();
    bool atBottom = bar->value() == bar->maximum();
    QTextCursor cursor(FPane->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QTextCharFormat format;
    for (const TEntry& e : TakePending()) {
        if (!FEmpty)
            cursor.insertBlock();
        FEmpty = false;
        format.setForeground(QColor(e.Colour.R, e.Colour.G, e.Colour.B));
        QString text = QString::fromStdString(e.Text);
        text.replace(QChar('\n'), QChar(QChar::LineSeparator));  // one block per entry
        cursor.insertText(text, format);
    }
    cursor.endEditBlock();
    if (atBottom)
        bar->setValue(bar->maximum());
}
