#pragma once

#include "AudioSettings.h"

#include <QString>
#include <QWidget>

// Keeps g_settings as it was before the test and puts it back afterwards.
class SettingsSnapshot {
public:
    SettingsSnapshot() : m_saved(g_settings) {}
    ~SettingsSnapshot() { g_settings = m_saved; }
    SettingsSnapshot(const SettingsSnapshot&) = delete;
    SettingsSnapshot& operator=(const SettingsSnapshot&) = delete;

private:
    CAudioSettings m_saved;
};

// The control with the object name of an id, below a parent.
template <class T> T* Control(const QWidget* parent, int id) {
    return parent->findChild<T*>(QString::number(id));
}
