// The settings pages of FLAC, Opus and AAC (M4A), after the pages of the first four formats.

#include "AudioSettings.h"
#include "SettingsSheet.h"

#include <QComboBox>

namespace {

QStringList KbpsItems(int count, int (*bitsPerSecond)(int)) {
    QStringList items;
    for (int i = 0; i < count; ++i)
        items << QStringLiteral("%1 kbps").arg(bitsPerSecond(i) / 1000);
    return items;
}

} // namespace

QStringList FlacLevelItems() {
    QStringList items;
    for (int level = 0; level < CAudioSettings::kFlacLevelCount; ++level)
        items << QString::number(level);
    items[0] += QStringLiteral(" (fastest)");
    items[5] += QStringLiteral(" (default)");
    items[8] += QStringLiteral(" (smallest file)");
    return items;
}

QStringList OpusBitrateItems() {
    return KbpsItems(CAudioSettings::kOpusBitrateCount, &CAudioSettings::OpusBitrateFromIndex);
}

QStringList OpusApplicationItems() {
    return {"Audio (music, mixed)", "VoIP (speech)"};
}

QStringList AacBitrateItems() {
    return KbpsItems(CAudioSettings::kAacBitrateCount, &CAudioSettings::AacBitrateFromIndex);
}

QStringList SoundItems() {
    return {"Same as the source", "44100 Hz stereo 16 bit"};
}

CMyPropertyPage5::CMyPropertyPage5(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("flac"), parent) {
    m_comboLevel = AddLabelledList(IDC_FLAC_LEVEL, QStringLiteral("Compression level"), FlacLevelItems(), 8);
    m_comboSound = AddLabelledList(IDC_FLAC_SOUND, QStringLiteral("Sound"), SoundItems(), 24);
}

bool CMyPropertyPage5::OnInitDialog() {
    SelectIndex(m_comboLevel, g_settings.m_nFlacLevelIndex);
    SelectIndex(m_comboSound, g_settings.m_nFlacSoundIndex);
    return true;
}

bool CMyPropertyPage5::OnApply() {
    StoreIndex(m_comboLevel, g_settings.m_nFlacLevelIndex);
    StoreIndex(m_comboSound, g_settings.m_nFlacSoundIndex);
    return true;
}

CMyPropertyPage6::CMyPropertyPage6(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("opus"), parent) {
    m_comboBitrate = AddLabelledList(IDC_OPUS_BITRATE, QStringLiteral("Bitrate"), OpusBitrateItems(), 8);
    m_comboApplication =
        AddLabelledList(IDC_OPUS_APPLICATION, QStringLiteral("Application"), OpusApplicationItems(), 24);
    m_comboSound = AddLabelledList(IDC_OPUS_SOUND, QStringLiteral("Sound"), SoundItems(), 40);
}

bool CMyPropertyPage6::OnInitDialog() {
    SelectIndex(m_comboBitrate, g_settings.m_nOpusBitrateIndex);
    SelectIndex(m_comboApplication, g_settings.m_nOpusApplicationIndex);
    SelectIndex(m_comboSound, g_settings.m_nOpusSoundIndex);
    return true;
}

bool CMyPropertyPage6::OnApply() {
    StoreIndex(m_comboBitrate, g_settings.m_nOpusBitrateIndex);
    StoreIndex(m_comboApplication, g_settings.m_nOpusApplicationIndex);
    StoreIndex(m_comboSound, g_settings.m_nOpusSoundIndex);
    return true;
}

CMyPropertyPage7::CMyPropertyPage7(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("m4a"), parent) {
    m_comboBitrate = AddLabelledList(IDC_M4A_BITRATE, QStringLiteral("AAC bitrate"), AacBitrateItems(), 8);
    m_comboSound = AddLabelledList(IDC_M4A_SOUND, QStringLiteral("Sound"), SoundItems(), 24);
}

bool CMyPropertyPage7::OnInitDialog() {
    SelectIndex(m_comboBitrate, g_settings.m_nAacBitrateIndex);
    SelectIndex(m_comboSound, g_settings.m_nAacSoundIndex);
    return true;
}

bool CMyPropertyPage7::OnApply() {
    StoreIndex(m_comboBitrate, g_settings.m_nAacBitrateIndex);
    StoreIndex(m_comboSound, g_settings.m_nAacSoundIndex);
    return true;
}
