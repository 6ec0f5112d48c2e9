// The "Sound" page of the settings sheet.

#include "AudioSettings.h"
#include "SettingsSheet.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <cmath>

namespace {

// The other pages' columns.
constexpr int kLabelX = 14, kLabelWidth = 72, kListX = 88, kListWidth = 116;

QString FadeText(int ms) {
    return ms == 0 ? QStringLiteral("Off") : QStringLiteral("%1 ms").arg(ms);
}

} // namespace

QStringList LoudnessItems() {
    return {"Off", "-14 LUFS (streaming)", "-16 LUFS (podcasts, speech)", "-23 LUFS (EBU R128 broadcast)",
            "Other (LUFS)"};
}

QStringList FadeItems() {
    return {"Off", "50 ms", "100 ms", "250 ms", "500 ms", "1000 ms", "2000 ms", "5000 ms"};
}

int FadeMsFromText(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QStringLiteral("Off"), Qt::CaseInsensitive) == 0 || t.isEmpty())
        return 0;
    static const QRegularExpression kMs(QStringLiteral("^(\\d{1,5})\\s*(ms)?$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto match = kMs.match(t);
    if (!match.hasMatch())
        return -1;
    const int ms = match.captured(1).toInt();
    return ms <= SoundOptions::kMaxFadeMs ? ms : -1;
}

CSoundPage::CSoundPage(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("Sound"), parent) {
    m_comboLoudness = AddLabelledList(IDC_SOUND_LOUDNESS, QStringLiteral("Loudness"), LoudnessItems(), 8);
    const auto spin = [this](int id, double lowest, double highest, double step, const QString& suffix,
                             int y) {
        auto* box = new QDoubleSpinBox(this);
        box->setObjectName(QString::number(id));
        box->setRange(lowest, highest);
        box->setDecimals(1);
        box->setSingleStep(step);
        box->setSuffix(suffix);
        Place(box, kListX, y, kListWidth, 12);
        return box;
    };
    m_spinTarget = spin(IDC_SOUND_TARGET, SoundOptions::kMinTarget, SoundOptions::kMaxTarget, 0.5,
                        QStringLiteral(" LUFS"), 24);
    if (auto* label =
            qobject_cast<QLabel*>(AddLabel(QStringLiteral("Other target"), kLabelX, 25, kLabelWidth)))
        label->setBuddy(m_spinTarget);
    m_spinTruePeak = spin(IDC_SOUND_TRUE_PEAK, SoundOptions::kMinTruePeak, SoundOptions::kMaxTruePeak, 0.1,
                          QStringLiteral(" dBTP"), 40);
    if (auto* label =
            qobject_cast<QLabel*>(AddLabel(QStringLiteral("True peak max"), kLabelX, 41, kLabelWidth)))
        label->setBuddy(m_spinTruePeak);
    m_comboFadeIn = AddLabelledList(IDC_SOUND_FADE_IN, QStringLiteral("Fade in"), FadeItems(), 60);
    m_comboFadeOut = AddLabelledList(IDC_SOUND_FADE_OUT, QStringLiteral("Fade out"), FadeItems(), 76);
    for (QComboBox* fade : {m_comboFadeIn, m_comboFadeOut}) {
        fade->setEditable(true);
        fade->setInsertPolicy(QComboBox::NoInsert);
        fade->lineEdit()->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^(Off|\\d{0,5}\\s*(ms)?)$"),
                                                               QRegularExpression::CaseInsensitiveOption),
                                            fade));
    }
    connect(m_comboLoudness, &QComboBox::currentIndexChanged, this, &CSoundPage::EnableLoudness);
}

bool CSoundPage::OnInitDialog() {
    const SoundOptions& s = g_settings.m_sound;
    int item = 0;
    if (s.normalize) {
        item = kOtherTarget;
        for (int i = 0; i < static_cast<int>(std::size(SoundOptions::kPresetTargets)); ++i)
            if (s.targetLufs == SoundOptions::kPresetTargets[i])
                item = i + 1;
    }
    m_comboLoudness->setCurrentIndex(item);
    m_spinTarget->setValue(s.normalize ? s.targetLufs : SoundOptions::kDefaultTarget);
    m_spinTruePeak->setValue(s.truePeakDbtp);
    m_comboFadeIn->setEditText(FadeText(s.fadeInMs));
    m_comboFadeOut->setEditText(FadeText(s.fadeOutMs));
    EnableLoudness();
    return true;
}

bool CSoundPage::OnApply() {
    const int fadeIn = FadeMsFromText(m_comboFadeIn->currentText());
    const int fadeOut = FadeMsFromText(m_comboFadeOut->currentText());
    if (fadeIn < 0 || fadeOut < 0) {
        (fadeIn < 0 ? m_comboFadeIn : m_comboFadeOut)->setFocus();
        return false;
    }
    SoundOptions& s = g_settings.m_sound;
    const int item = m_comboLoudness->currentIndex();
    s.normalize = item > 0;
    if (item > 0 && item < kOtherTarget)
        s.targetLufs = SoundOptions::kPresetTargets[item - 1];
    else if (item == kOtherTarget)
        s.targetLufs = m_spinTarget->value();
    s.truePeakDbtp = m_spinTruePeak->value();
    s.fadeInMs = fadeIn;
    s.fadeOutMs = fadeOut;
    s.Validate();
    return true;
}

void CSoundPage::EnableLoudness() {
    const int item = m_comboLoudness->currentIndex();
    m_spinTarget->setEnabled(item == kOtherTarget);
    m_spinTruePeak->setEnabled(item > 0);
    if (item > 0 && item < kOtherTarget)
        m_spinTarget->setValue(SoundOptions::kPresetTargets[item - 1]);
}
