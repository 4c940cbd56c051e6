#pragma once
// The activity log in the window's read-only pane (Qt). What waits and what the pane keeps is
// TLogBacklog's; this shows it, a moment after it arrives.
#include <QObject>
#include <QString>

#include "app/LogBacklog.h"

class QPlainTextEdit;
class QTimer;

class TLogPane : public QObject, public TLogBacklog {
public:
    explicit TLogPane(QPlainTextEdit* pane);

    // Shows what is waiting now (the timer does it otherwise).
    void Flush();

protected:
    void PendingStarted() override;

private:
    QPlainTextEdit* FPane;
    QTimer* FTimer;
    bool FEmpty = true;
};

// The pane's text for an entry: LogEntryShown, its line breaks kept in one block.
QString LogEntryText(ByteView entry);
