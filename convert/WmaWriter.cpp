#include "WmaWriter.h"

#include "MessageService.h"
#include "SystemHelpers.h"
#include "WmAudSDK.h"

#include <dlfcn.h>
#include <optional>

namespace {

void ShowError(const char* text) {
    ShowMessage(text, MsgButtons::Ok, nullptr, MsgIcon::Warning);
}

// Strict UTF-8 to UTF-32 (wchar_t is 32-bit here); nothing for malformed text.
std::optional<std::wstring> Utf8ToWide(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
        unsigned char lead = byte(i);
        uint32_t c;
        size_t extra;
        uint32_t min;
        if (lead < 0x80) {
            c = lead, extra = 0, min = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            c = lead & 0x1F, extra = 1, min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            c = lead & 0x0F, extra = 2, min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            c = lead & 0x07, extra = 3, min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (extra > text.size() - i - 1)
            return std::nullopt;
        for (size_t k = 1; k <= extra; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (byte(i + k) & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || c == 0)
            return std::nullopt;
        out += static_cast<wchar_t>(c);
        i += extra + 1;
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

    std::optional<std::wstring> widePath = Utf8ToWide(outputPath);
    if (!widePath || widePath->empty()) {
        ShowError("internal error");
        return false;
    }
    if (m_pfnCreateWriter(widePath->c_str(), &m_pWriter) < 0 || !m_pWriter) {
        m_pWriter = nullptr;
        ShowError(" Failed to Create Audio Writer");
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
        ReleaseWriter();
        // The file header is written here: a full disk is a write error, not a format problem.
        ShowError(set == WM_E_DISK_FULL || set == WM_E_WRITE_FAULT ? "Output file write error"
                                                                   : " Failed to Set Output Format");
        return false;
    }
    return true;
}

bool CWmaWriter::Write(const void* data, unsigned bytes) {
    if (bytes == 0)
        return true;
    if (!m_pWriter)
        return false;
    return m_pWriter->WriteSamples(static_cast<const uint8_t*>(data), bytes) >= 0;
}

bool CWmaWriter::Close() {
    if (!m_pWriter)
        return false;
    if (m_pWriter->Finish() < 0)
        return false;
    ReleaseWriter();
    return true;
}

void CWmaWriter::ReleaseWriter() {
    m_pWriter->Release();
    m_pWriter = nullptr;
}
