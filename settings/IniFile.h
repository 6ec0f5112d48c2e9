#pragma once

#include <optional>
#include <string>
#include <vector>

// A profile (INI) file kept as its lines, so that writing a key changes only that key's line:
// unknown keys, sections, comments and blank lines survive. Section and key names compare without
// regard to ASCII case; values are read trimmed, with one pair of surrounding quotes removed.
class CIniFile {
public:
    // No real settings file comes near this size; reading a bigger one would only fill the memory.
    static constexpr long long kMaxBytes = 1 << 20;

    // Reads the file; a missing or unreadable file reads as empty. Returns whether it was read; when not,
    // *problem says why ("No such file or directory", "not a regular file", ...). Only a regular file
    // of at most kMaxBytes is read: a folder, a FIFO or a device is refused at once, without blocking.
    bool Read(const std::string& path, std::string* problem = nullptr);

    std::optional<std::string> Get(const std::string& section, const std::string& key) const;

    // Replaces the key's value in place, or appends the key to its section, or appends the section
    // at the end of the file. Line breaks in the value become blanks.
    void Set(const std::string& section, const std::string& key, const std::string& value);
    // Removes the key's line, if there is one.
    void Remove(const std::string& section, const std::string& key);

    // Writes a sibling file and renames it over the path, so the file is either the old one or the
    // whole new one. Returns false (leaving the old file and no stray sibling) when anything fails.
    bool WriteAtomically(const std::string& path) const;

    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    // Index of the section's header line, or -1.
    long FindSection(const std::string& section) const;
    // Index of the key's line within the section starting after header, or -1.
    long FindKey(long header, const std::string& key) const;
    long SectionEnd(long header) const;

    std::vector<std::string> m_lines;
};
