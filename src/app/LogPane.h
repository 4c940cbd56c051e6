#pragma once
// The activity log in the window's read-only pane. Entries are gathered and shown together a
// moment later, so a stream of thousands a second neither freezes the window nor slows the
// servers; the pane keeps the newest MaxEntries, older ones drop off the top.
#include <QColor>
#include <QObject>
#include <QString>

#include <deque>

#include "core/ActivityLog.h"

class QPlainTextEdit;
class QTimer;

class TLogPane : public QObject, public TActivityLog {
public:
    static constexpr int MaxEntries = 100000;
    // What one entry may show; a longer one (a client can make an entry carry a MiB) is cut and
    // ends in "…". With MaxEntries this bounds the pane's text: 100,000 entries of at most 1,001
    // UTF-16 characters, about 200 MB at the very worst.
    static constexpr int MaxEntryChars = 1000;

    explicit TLogPane(QPlainTextEdit* pane);

    void Append(ByteView line) override;
    void SetColour(TLogColour colour) override;
    // Shows what is waiting now (the timer does it otherwise).
    void Flush();

private:
    struct TEntry {
        QColor Colour;
        QString Text;
    };
    QPlainTextEdit* FPane;
    QTimer* FTimer;
    QColor FColour{0, 0, 255};
    std::deque<TEntry> FPending;
    bool FEmpty = true;
};

// The pane's text for an entry: as the headless log shows it (a CR a line break followed by an
// indent), kept in one block, at most TLogPane::MaxEntryChars characters and "…" when cut.
QString LogEntryText(ByteView entry);
