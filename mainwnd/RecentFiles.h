#pragma once

#include <QPoint>
#include <functional>
#include <string>

class QWidget;

// The files the window opened last, newest first: at most ten, each once, kept in the settings
// ("Recent Files" of param.ini, CAudioSettings::m_recentFiles). GUI thread only.

// Puts a file that has opened at the top of the list.
void RememberRecentFile(const std::string& path);

// Runs the menu of the recent files that still exist ("1 name  (folder)", the number as its key) with
// "Clear Recent Files" below them, at a point on the screen; choosing a file calls open with its path.
void RunRecentFilesMenu(QWidget* parent, const QPoint& at,
                        const std::function<void(const std::string&)>& open);
