#pragma once

#include "platform/Pasteboard.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

typedef struct _XDisplay Display;

// The X side of X11ClipboardPasteboard: its own connection and thread, which owns the CLIPBOARD (and for
// terminals the PRIMARY) selection, serves every request for it, reads other owners' content within a bound, and
// counts the clipboard's changes. Callers talk to it by posting work; answers are posted to their context object.
class X11SelectionOwner
{
public:
    struct Offer {
        Pasteboard::Contents contents;
        bool transient = false;
        bool alsoPrimary = false;
        unsigned long targetWindow = 0;
        std::function<void()> readByTarget;
    };

    explicit X11SelectionOwner(QObject *context);
    ~X11SelectionOwner();

    bool isAvailable() const { return m_display != nullptr; }
    qint64 changeCount() const { return m_count.load(); }
    void read(qint64 boundMs, std::function<void(Pasteboard::Snapshot)> done);
    void own(Offer offer);

private:
    struct Read;
    void post(std::function<void()> work);
    void loop();
    void handle(void *event);
    void serve(void *request);
    void startRead();
    void requestNext();
    void finishRead();
    void readProperty();
    void deliver(std::function<void()> fn);
    unsigned long atom(const char *name);
    QString atomName(unsigned long atom);
    unsigned long clientOf(unsigned long window) const;
    void handOverToManager();

    QPointer<QObject> m_context;
    Display *m_display = nullptr;
    unsigned long m_window = 0;
    int m_fixesEvent = 0;
    int m_wake = -1;
    std::atomic<qint64> m_count{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_work;
    std::thread m_thread;

    // Owned by the thread.
    std::optional<Offer> m_clipboard;
    std::optional<Offer> m_primary;
    std::deque<std::unique_ptr<Read>> m_reads;
};
