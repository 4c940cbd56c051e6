#include "app/LogPane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include "app/HeadlessLog.h"

QString LogEntryText(ByteView entry)
{
    // Every byte shows as one character at least, so more bytes than that are never looked at.
    constexpr auto most = static_cast<size_t>(TLogPane::MaxEntryChars);
    bool cut = entry.size() > most;
    QString text = QString::fromStdString(ShowLogEntry(entry.substr(0, most)));
    text.replace(QChar('\n'), QChar(QChar::LineSeparator));  // one block per entry
    if (text.size() > TLogPane::MaxEntryChars) {
        text.truncate(TLogPane::MaxEntryChars);
        cut = true;
    }
    if (cut)
        text += QChar(0x2026);  // …
    return text;
}

TLogPane::TLogPane(QPlainTextEdit* pane) : QObject(pane), FPane(pane), FTimer(new QTimer(this))
{
    FPane->setMaximumBlockCount(MaxEntries);
    FTimer->setSingleShot(true);
    FTimer->setInterval(30);
    connect(FTimer, &QTimer::timeout, this, [this] { Flush(); });
}

void TLogPane::SetColour(TLogColour colour)
{
    FColour = QColor(colour.R, colour.G, colour.B);
}

void TLogPane::Append(ByteView line)
{
    // What would scroll off before it is ever shown is not kept.
    if (FPending.size() >= static_cast<size_t>(MaxEntries))
        FPending.pop_front();
    FPending.push_back({FColour, LogEntryText(line)});
    if (!FTimer->isActive())
        FTimer->start();
}

void TLogPane::Flush()
{
    if (FPending.empty())
        return;
    QScrollBar* bar = FPane->verticalScrollBar();
    bool atBottom = bar->value() == bar->maximum();
    QTextCursor cursor(FPane->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QTextCharFormat format;
    for (const TEntry& e : FPending) {
        if (!FEmpty)
            cursor.insertBlock();
        FEmpty = false;
        format.setForeground(e.Colour);
        cursor.insertText(e.Text, format);
    }
    cursor.endEditBlock();
    FPending.clear();
    if (atBottom)
        bar->setValue(bar->maximum());
}
