#include "TestSupport.h"

#include <QImage>
#include <QTest>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

MessageRecorder::MessageRecorder() {
    m_previous = SetMessageHandler([this](const MessageRequest& req) {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(req);
        if (req.buttons == MsgButtons::Ok)
            return static_cast<int>(IDOK);
        if (m_answers.empty())
            return static_cast<int>(IDNO);
        int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageHandler(m_previous);
}

void MessageRecorder::QueueAnswer(int answer) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

std::vector<std::string> MessageRecorder::Texts() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> texts;
    for (const auto& r : m_requests)
        texts.push_back(r.text);
    return texts;
}

std::vector<MessageRequest> MessageRecorder::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

size_t MessageRecorder::Count() const {
    std::lock_guard lock(m_mutex);
    return m_requests.size();
}

TempDir::TempDir() {
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary directory");
}

std::string TempDir::Path() const {
    return m_dir.path().toStdString() + "/";
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

int RunUnprivileged(const std::function<int()>& fn) {
    if (getuid() != 0)
        return fn();
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(125);
        _exit(fn());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

int CountColor(const QImage& img, const QRect& area, const QColor& c) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += img.pixelColor(x, y) == c;
    return n;
}
