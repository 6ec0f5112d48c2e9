#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

MessageRecorder::MessageRecorder() {
    m_previous = SetMessageHandler([this](const MessageRequest& req) {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(req);
        if (req.buttons == MsgButtons::Ok)
            return static_cast<int>(IDOK);
        const int answer = !m_answers.empty()                 ? m_answers.front()
                           : req.buttons == MsgButtons::YesNo ? IDNO
                                                              : IDOK;
        if (!m_answers.empty())
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

TempDir::TempDir() {
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    // By bytes: Qt's own removal passes over names that are not UTF-8.
    nftw(
        Path().c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path), 0; }, 16,
        FTW_DEPTH | FTW_PHYS);
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

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + '/';
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            struct stat st;
            if (stat((base + entry->d_name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool BecomeUnprivileged() {
    return getuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
}

int RunUnprivileged(const std::function<int()>& fn) {
    if (getuid() != 0)
        return fn();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(BecomeUnprivileged() ? fn() : 125);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int CountColor(const QImage& img, const QRect& area, const QColor& c) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += img.pixelColor(x, y) == c;
    return n;
}

std::vector<std::string> OpenFiles() {
    std::vector<std::string> targets;
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System))
        targets.push_back(fd.symLinkTarget().toStdString());
    return targets;
}

int ThreadCount() {
    return static_cast<int>(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* out,
               std::string* err, int timeoutMs, const std::function<void()>& inChild) {
    int pipes[2][2];
    if (pipe2(pipes[0], O_CLOEXEC) != 0 || pipe2(pipes[1], O_CLOEXEC) != 0)
        return -1;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_RDWR), 0);
        dup2(pipes[0][1], 1);
        if (err)
            dup2(pipes[1][1], 2);
        if (inChild)
            inChild();
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipes[0][1]);
    close(pipes[1][1]);
    // Both pipes are read until they close, or until the deadline; poll sleeps in between.
    pollfd fds[2] = {{pipes[0][0], POLLIN, 0}, {pipes[1][0], POLLIN, 0}};
    std::string* sinks[2] = {out, err};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    char buf[65536];
    for (int open = pid > 0 ? 2 : 0; open > 0;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if ((timedOut = left <= 0) || (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR))
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0 && sinks[i])
                sinks[i]->append(buf, static_cast<size_t>(n));
            else if (n == 0 || (n < 0 && errno != EINTR)) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0)
            close(f.fd);
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || timedOut || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
