#pragma once

#include "MessageService.h"

#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class QColor;
class QImage;
class QRect;

// Replaces the message service while alive: records every message and answers the boxes with a choice
// from a queue of answers (when it is empty: IDNO to Yes/No, IDOK to the others). Safe to use from any
// thread.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();

    void QueueAnswer(int answer);
    std::vector<std::string> Texts() const;
    size_t Count() const { return Texts().size(); }

private:
    mutable std::mutex m_mutex;
    std::vector<MessageRequest> m_requests;
    std::deque<int> m_answers;
    MessageHandler m_previous;
};

// A fresh directory removed with everything in it at the end of the test. Path() ends with '/'.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path() const;
    std::string File(const std::string& name) const { return Path() + name; }

private:
    QTemporaryDir m_dir;
};

// Processes events until the condition holds or the deadline passes; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
// The plain files of a folder (hidden ones too), by name.
std::vector<std::string> FilesIn(const std::string& folder);

// Runs a program (found through PATH unless the name holds a '/') to its end; returns its exit code,
// or -1 when it could not start, died of a signal or ran past the timeout (then it is killed). Its
// standard output and error go to the strings when given, else standard error is passed through
// and standard output discarded. `inChild` runs in the child before the program starts (limits,
// identity). Started with fork and exec: QProcess starts children in a way ThreadSanitizer cannot
// follow (it forgets the locks it has seen, and then reports races that are none).
int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out = nullptr,
               std::string* err = nullptr, int timeoutMs = 120000, const std::function<void()>& inChild = {});

// Runs the function as an unprivileged user when the tests run as root (root ignores permission
// bits, so a read-only folder is only read-only to someone else). Returns the function's result.
int RunUnprivileged(const std::function<int()>& fn);
// The identity RunUnprivileged takes, for a child about to run a program.
bool BecomeUnprivileged();

// How many pixels of the area have exactly the colour.
int CountColor(const QImage& img, const QRect& area, const QColor& c);

// What this process holds open: the targets of its file descriptors.
std::vector<std::string> OpenFiles();
int ThreadCount();
