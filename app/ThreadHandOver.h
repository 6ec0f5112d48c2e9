#pragma once

#include <QObject>

#include <functional>

// Calls from other threads into objects of the GUI thread. Qt's event queue locks with futexes, which
// ThreadSanitizer cannot see; these hand each call over through an atomic it does see, so the tests under
// it report real races only.

// Runs `fn` later on the GUI thread, unless `context` (an object of that thread) is destroyed by then.
void PostToGuiThread(QObject* context, std::function<void()> fn);

// Runs `fn` on the GUI thread and returns when it has run (at once when called there).
void RunOnGuiThreadAndWait(std::function<void()> fn);

// Runs calls handed over from other threads on the thread it lives in (for an object that is not always
// on the GUI thread). A call still queued when it is destroyed is dropped with it.
class CCallReceiver : public QObject {
public:
    using QObject::QObject;
    void Post(std::function<void()> fn); // from any thread

protected:
    bool event(QEvent* e) override;
};
