#include "IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Trim(const std::string& s) {
    const char* ws = " \t\r\n";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// "[name]" gives name; anything else gives nothing.
std::optional<std::string> SectionName(const std::string& line) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string::npos)
        return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

bool IsComment(const std::string& line) {
    std::string t = Trim(line);
    return !t.empty() && (t.front() == ';' || t.front() == '#');
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool CIniFile::Read(const std::string& path, std::string* problem) {
    m_lines.clear();
    auto refuse = [&](const std::string& why, int error) {
        if (problem)
            *problem = why;
        errno = error;
        return false;
    };
    // Non-blocking, so that a FIFO at the path is refused instead of waiting for a writer for ever.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return refuse(std::strerror(errno), errno);
    struct stat st = {};
    std::string text;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    bool ok = regular && st.st_size <= kMaxBytes;
    if (ok) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            text.append(buffer, static_cast<size_t>(n));
            // A file that grows while it is read is cut off here all the same.
            if (static_cast<long long>(text.size()) > kMaxBytes) {
                ok = false;
                break;
            }
        }
    }
    const int error = errno;
    close(fd);
    if (!regular)
        return refuse(S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file", EINVAL);
    if (!ok)
        return static_cast<long long>(text.size()) > kMaxBytes || st.st_size > kMaxBytes
                   ? refuse("larger than any settings file, over 1 MB", EFBIG)
                   : refuse(std::strerror(error ? error : EIO), error ? error : EIO);
    // Lines end with "\r\n", "\n" or a lone "\r": no value read can hold a line break, just as none
    // can be written (Set turns them into blanks), so a loaded file saves back unchanged.
    size_t begin = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r')
            continue;
        m_lines.push_back(text.substr(begin, i - begin));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        begin = i + 1;
    }
    if (begin < text.size())
        m_lines.push_back(text.substr(begin));
    return true;
}

long CIniFile::FindSection(const std::string& section) const {
    for (size_t i = 0; i < m_lines.size(); ++i) {
        auto name = SectionName(m_lines[i]);
        if (name && EqualsNoCase(*name, section))
            return static_cast<long>(i);
    }
    return -1;
}

long CIniFile::SectionEnd(long header) const {
    size_t i = static_cast<size_t>(header) + 1;
    while (i < m_lines.size() && !SectionName(m_lines[i]))
        ++i;
    return static_cast<long>(i);
}

long CIniFile::FindKey(long header, const std::string& key) const {
    const long end = SectionEnd(header);
    for (long i = header + 1; i < end; ++i) {
        const std::string& line = m_lines[static_cast<size_t>(i)];
        size_t eq = line.find('=');
        if (eq == std::string::npos || IsComment(line))
            continue;
        if (EqualsNoCase(Trim(line.substr(0, eq)), key))
            return i;
    }
    return -1;
}

std::optional<std::string> CIniFile::Get(const std::string& section, const std::string& key) const {
    long header = FindSection(section);
    if (header < 0)
        return std::nullopt;
    long at = FindKey(header, key);
    if (at < 0)
        return std::nullopt;
    const std::string& line = m_lines[static_cast<size_t>(at)];
    std::string value = Trim(line.substr(line.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

void CIniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    std::string clean = value;
    for (char& c : clean) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    // Get trims a value and drops one pair of surrounding quotes: a value that would lose something
    // that way is written inside quotes, so it reads back as it was set.
    const bool quotes = (clean.size() >= 2 && (clean.front() == '"' || clean.front() == '\'') &&
                         clean.back() == clean.front()) ||
                        (!clean.empty() && Trim(clean) != clean);
    const std::string line = key + "=" + (quotes ? "\"" + clean + "\"" : clean);
    long header = FindSection(section);
    if (header < 0) {
        m_lines.push_back("[" + section + "]");
        m_lines.push_back(line);
        return;
    }
    long at = FindKey(header, key);
    if (at >= 0) {
        m_lines[static_cast<size_t>(at)] = line;
        return;
    }
    // After the section's last non-blank line, so blank lines between sections stay where they were.
    long insert = SectionEnd(header);
    while (insert - 1 > header && Trim(m_lines[static_cast<size_t>(insert - 1)]).empty())
        --insert;
    m_lines.insert(m_lines.begin() + insert, line);
}

void CIniFile::Remove(const std::string& section, const std::string& key) {
    const long header = FindSection(section);
    const long at = header < 0 ? -1 : FindKey(header, key);
    if (at >= 0)
        m_lines.erase(m_lines.begin() + at);
}

bool CIniFile::WriteAtomically(const std::string& path) const {
    // Write through a symbolic link to its target, so the link itself survives.
    std::string target = path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::string tmp = target + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0)
        return false;
    std::string data;
    for (const std::string& l : m_lines)
        data += l + "\n";
    // Keep the mode of the file being replaced; a new file gets the usual 0644.
    struct stat st;
    const mode_t mode = stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, data) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), target.c_str()) == 0)
        return true;
    unlink(tmp.c_str());
    return false;
}
