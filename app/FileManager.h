#pragma once

#include <functional>
#include <string>

// Shows a file the program has written in the desktop's file manager: the file selected in its folder
// where a file manager offers that (org.freedesktop.FileManager1 on the session bus: Nautilus, Dolphin,
// Nemo, Caja, Thunar and others), otherwise its folder opened with the desktop's default handler.
// GUI thread only. It returns at once; the bus answers later, and only a file manager that refuses or is
// missing leads to the folder being opened instead. False when not even the folder could be handed on.
bool ShowInFileManager(const std::string& path);

// Tests take the place of the desktop: while set, ShowInFileManager only hands the path to the function.
void SetFileManagerForTesting(std::function<void(const std::string& path)> show);
