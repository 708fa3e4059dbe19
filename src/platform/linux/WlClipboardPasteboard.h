#pragma once

#include "platform/Pasteboard.h"

#include <QObject>
#include <QStringList>

class QProcess;

// The Wayland clipboard through wl-clipboard's wl-copy and wl-paste, which use the compositor's data-control
// protocol: the one way a client without a focused surface may read and own the clipboard (wlroots compositors
// and KDE offer it, GNOME does not). Every call starts processes and returns; their answers come back on the
// caller's thread, reads bounded by a timer.
//
// An owner is a wl-copy kept in the foreground: it serves the content until another client takes the clipboard
// over, then exits. wl-copy offers one format (text under its usual aliases), so a restored clipboard keeps its
// text, or its first format when it has no text; and it cannot add a hint for clipboard managers beside the
// text, so a manager may record a dictation. Nor does it tell when a client fetched the content: the one way,
// serving a single paste and exiting, clears the clipboard while GTK is still reading the paste, which then
// gets nothing. So an offer stays until it is replaced, and reads are not seen. The change count follows this
// process's writes and the end of its ownership, which covers every change made while it owns the clipboard;
// changes between other clients are not seen.
class WlClipboardPasteboard final : public Pasteboard
{
public:
    // The programs, for tests that need them missing.
    explicit WlClipboardPasteboard(QString copyProgram = QStringLiteral("wl-copy"),
                                   QString pasteProgram = QStringLiteral("wl-paste"));
    ~WlClipboardPasteboard() override;
    WlClipboardPasteboard(const WlClipboardPasteboard &) = delete;
    WlClipboardPasteboard &operator=(const WlClipboardPasteboard &) = delete;

    qint64 changeCount() const override { return m_count; }
    void readContents(qint64 boundMs, std::function<void(Snapshot)> done) override;
    void setString(const QString &text) override;
    void setContents(const Contents &contents) override;
    void offerTransientText(const QString &text, bool alsoPrimary, quint64 targetWindow,
                            std::function<void()> readByTarget) override;
    bool lastWriteFailed() const override { return m_failed; }
    bool seesReads() const override { return false; }

private:
    // Starts a wl-copy owning the clipboard (or with primary the primary selection) with data in format.
    // onLost runs when it exits on its own while still the latest owner.
    void own(const QByteArray &format, const QByteArray &data, const QStringList &options,
             std::function<void()> onLost);
    // Ends every owner started before: a new write replaces them.
    void retireOwners();

    QString m_copyProgram;
    QString m_pasteProgram;
    QObject m_context; // parent of the processes; its children die with this object
    QList<QProcess *> m_owners;
    qint64 m_count = 0;
    bool m_failed = false;
};
