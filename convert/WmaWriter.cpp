#include "WmaWriter.h"

#include "ByteText.h"
#include "MessageService.h"
#include "SystemHelpers.h"
#include "WmAudSDK.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <optional>

namespace {

void ShowError(const char* text) {
    ShowMessage(text, MsgButtons::Ok, nullptr, MsgIcon::Warning);
}

// A path's bytes as the module's UTF-32, bytes that are not UTF-8 as U+DC80..U+DCFF (see WmAudSDK.h).
std::optional<std::wstring> PathToWide(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return std::nullopt;
    const QString text = TextFromBytes(path);
    std::wstring out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode()))
            out += static_cast<wchar_t>(QChar::surrogateToUcs4(u, text[++i].unicode()));
        else
            out += static_cast<wchar_t>(u);
    }
    return out;
}

} // namespace

CWmaWriter::~CWmaWriter() {
    if (m_pWriter) {
        m_pWriter->Finish();
        ReleaseWriter();
    }
    if (m_hLibrary)
        dlclose(m_hLibrary);
}

bool CWmaWriter::Open(const std::string& outputPath, int bitrate, int sampleRate, int channels,
                      const Tags& tags) {
    if (m_pWriter) {
        m_pWriter->Finish();
        ReleaseWriter();
    }
    if (!m_hLibrary) {
        std::string modulePath = GetAppDirectory() + "WmAudSDK.so";
        m_hLibrary = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_hLibrary) {
            ShowError("Could not found WmAudSDK.DLL file");
            return false;
        }
        m_pfnCreateWriter = reinterpret_cast<CreateWriterFn>(dlsym(m_hLibrary, "WMAudioCreateWriter"));
        m_pfnErrorText = reinterpret_cast<ErrorTextFn>(dlsym(m_hLibrary, "WMAudioErrorText"));
    }
    if (!m_pfnCreateWriter) {
        ShowError("Could not found WMAudioCreateWriter library function");
        return false;
    }

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<uint16_t>(channels);
    format.nSamplesPerSec = static_cast<uint32_t>(sampleRate);
    format.nBlockAlign = static_cast<uint16_t>(2 * channels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.wBitsPerSample = 16;
    format.cbSize = 0;

    std::optional<std::wstring> widePath = PathToWide(outputPath);
    if (!widePath || widePath->empty()) {
        ShowError("internal error");
        return false;
    }
    if (m_pfnCreateWriter(widePath->c_str(), &m_pWriter) < 0 || !m_pWriter) {
        m_pWriter = nullptr;
        ShowError((" Failed to Create Audio Writer" + Reason()).c_str());
        return false;
    }
    // A channel count or rate that does not fit the record is refused by the writer, not truncated.
    bool formatFits = channels > 0 && channels <= 0xFFFF / 2 && sampleRate > 0;
    if (!formatFits || m_pWriter->SetInputFormat(&format) < 0) {
        ReleaseWriter();
        ShowError(" Failed to Set Input Format");
        return false;
    }
    IWMAudioWriterTags* header = nullptr;
    if (!tags.empty() &&
        m_pWriter->QueryInterface(&IID_IWMAudioWriterTags, reinterpret_cast<void**>(&header)) >= 0 &&
        header) {
        for (const auto& [name, text] : tags)
            header->SetTag(name.c_str(), text.c_str());
        header->Release();
    }
    const WMRESULT set = bitrate <= 0 ? WM_E_INVALIDARG
                                      : m_pWriter->SetOutputFormat(static_cast<uint32_t>(bitrate),
                                                                   static_cast<uint32_t>(sampleRate),
                                                                   static_cast<uint32_t>(channels), 0);
    if (set < 0) {
        // The file header is written here: a full disk is a write error, not a format problem.
        const std::string reason = Reason(set);
        ReleaseWriter();
        ShowError(((set == WM_E_DISK_FULL || set == WM_E_WRITE_FAULT ? "Output file write error"
                                                                     : " Failed to Set Output Format") +
                   reason)
                      .c_str());
        return false;
    }
    return true;
}

bool CWmaWriter::Write(const void* data, unsigned bytes) {
    if (bytes == 0)
        return true;
    if (!m_pWriter)
        return false;
    const WMRESULT result = m_pWriter->WriteSamples(static_cast<const uint8_t*>(data), bytes);
    if (result >= 0)
        return true;
    m_strReason = Reason(result);
    return false;
}

bool CWmaWriter::Close() {
    if (!m_pWriter)
        return false;
    if (const WMRESULT result = m_pWriter->Finish(); result < 0) {
        m_strReason = Reason(result);
        return false;
    }
    ReleaseWriter();
    return true;
}

std::string CWmaWriter::Reason(WMRESULT result) const {
    std::string text = m_pfnErrorText ? m_pfnErrorText() : "";
    if (text.empty() && (result == WM_E_DISK_FULL || result == WM_E_WRITE_FAULT))
        text = std::strerror(result == WM_E_DISK_FULL ? ENOSPC : EIO);
    return text.empty() ? std::string() : " (" + text + ")";
}

void CWmaWriter::ReleaseWriter() {
    m_pWriter->Release();
    m_pWriter = nullptr;
}
