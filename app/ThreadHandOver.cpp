#include "ThreadHandOver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

std::atomic<unsigned> g_handOver{0};

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class CCallEvent : public QEvent {
public:
    CCallEvent(QObject* context, std::function<void()> fn)
        : QEvent(kCallEvent), m_context(context), m_fn(std::move(fn)) {}

    QPointer<QObject> m_context;
    std::function<void()> m_fn;
};

// Lives on the GUI thread for the whole run, so a call still queued at the end is freed with the queue.
// Its own event() is the first instrumented code to touch a call, after the acquire.
class CCallDispatcher : public QObject {
public:
    bool event(QEvent* e) override {
        g_handOver.load(std::memory_order_acquire);
        if (e->type() != kCallEvent)
            return QObject::event(e);
        auto* call = static_cast<CCallEvent*>(e);
        if (call->m_context)
            call->m_fn();
        return true;
    }
};

CCallDispatcher* Dispatcher(QCoreApplication* app) {
    static CCallDispatcher* dispatcher = [app] {
        auto* d = new CCallDispatcher;
        d->moveToThread(app->thread());
        return d;
    }();
    return dispatcher;
}

} // namespace

void PostToGuiThread(QObject* context, std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !context)
        return;
    auto* call = new CCallEvent(context, std::move(fn));
    CCallDispatcher* dispatcher = Dispatcher(app);
    g_handOver.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(dispatcher, call);
}

void RunOnGuiThreadAndWait(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    PostToGuiThread(app, [&] {
        fn();
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_one();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
}

void CCallReceiver::Post(std::function<void()> fn) {
    if (!QCoreApplication::instance())
        return;
    auto* call = new CCallEvent(this, std::move(fn));
    g_handOver.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(this, call);
}

bool CCallReceiver::event(QEvent* e) {
    g_handOver.load(std::memory_order_acquire);
    if (e->type() != kCallEvent)
        return QObject::event(e);
    static_cast<CCallEvent*>(e)->m_fn();
    return true;
}
