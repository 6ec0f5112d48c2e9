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

// Replaces the message service while alive: records every message and answers Yes/No boxes from a
// queue of answers (IDNO when the queue is empty). Safe to use from any thread.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    void QueueAnswer(int answer);
    std::vector<std::string> Texts() const;
    std::vector<MessageRequest> Requests() const;
    size_t Count() const;

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
    std::string Path() const;
    std::string File(const std::string& name) const { return Path() + name; }

private:
    QTemporaryDir m_dir;
};

// Processes events until the condition holds or the deadline passes; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

// Runs the function as an unprivileged user when the tests run as root (root ignores permission
// bits, so a read-only folder is only read-only to someone else). Returns the function's result.
int RunUnprivileged(const std::function<int()>& fn);

// How many pixels of the area have exactly the colour.
int CountColor(const QImage& img, const QRect& area, const QColor& c);
