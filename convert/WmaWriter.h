#pragma once

#include <string>
#include <utility>
#include <vector>

class IWMAudioWriter;

// The WMA output of a conversion: loads WmAudSDK.so from the program directory, creates its audio
// writer for the output file and passes 16-bit PCM through. Failures of Open are shown to the user
// through the message service. Used on one thread (the encoder thread).
class CWmaWriter {
public:
    CWmaWriter() = default;
    ~CWmaWriter();
    CWmaWriter(const CWmaWriter&) = delete;
    CWmaWriter& operator=(const CWmaWriter&) = delete;

    // outputPath is UTF-8; bitrate in bits per second. The input is 16-bit PCM of the given sample rate
    // and channel count. Tags (name, UTF-8 text; the names of IWMAudioWriterTags) go into the file's
    // header; a module without tags writes none. False after a message was shown.
    using Tags = std::vector<std::pair<std::string, std::string>>;
    bool Open(const std::string& outputPath, int bitrate, int sampleRate, int channels,
              const Tags& tags = {});
    // Passes PCM bytes to the writer; any count, odd ones included. A count of 0 makes no call.
    // False when the writer reports an error (or none is open).
    bool Write(const void* data, unsigned bytes);
    // Finishes the file; when that succeeds, releases the writer. False when the finish failed (the
    // writer is then released by the destructor).
    bool Close();
    // " (reason)" for the last failure of Write or Close, as the system or FFmpeg tells it; "" if unknown.
    const std::string& LastReason() const { return m_strReason; }

private:
    using CreateWriterFn = long (*)(const wchar_t* path, IWMAudioWriter** writer);
    using ErrorTextFn = const char* (*)();

    void ReleaseWriter();
    std::string Reason(int32_t result = 0) const;
    std::string m_strReason;
    ErrorTextFn m_pfnErrorText = nullptr;

    void* m_hLibrary = nullptr;
    CreateWriterFn m_pfnCreateWriter = nullptr;
    IWMAudioWriter* m_pWriter = nullptr;
};
