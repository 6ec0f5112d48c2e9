#pragma once

#include <QString>

// The program's pictures and skin are Qt resources of the quillet_res library, named by their
// resource ids: ":/icons/<id>.svg", ":/bitmaps/<id>.svg", ":/skin/RT_SKINMAGIC/<id>.qss".

constexpr int IDR_MAINFRAME = 128; // the program icon
constexpr int IDR_SKIN = 129;      // the skin, resource type "RT_SKINMAGIC"
constexpr int IDI_OPEN = 131;
constexpr int IDI_CONVERT = 132;
constexpr int IDI_ABOUT = 134;
constexpr int IDI_HELP = 135;
constexpr int IDI_EXIT = 136;
constexpr int IDI_HOMEPAGE = 137;
constexpr int IDI_SETTING = 139;
constexpr int IDI_BROWSE = 147;  // the small folder of the settings' browse buttons
constexpr int IDB_PICTURE = 148; // shown in the preview area when there is no video
constexpr int kPictureWidth = 370;
constexpr int kPictureHeight = 235;

// Registers the resources. A static library's resources stay out of the program unless something
// names them, so the program calls this once before it loads any picture; calling it again is
// harmless.
void InitQuilletResources();

// ":/icons/<id>.svg" (or ".png"), or empty when there is no such icon.
QString IconResourcePath(int id);

// ":/bitmaps/<id>.svg" (or ".png"), or empty when there is no such bitmap.
QString BitmapResourcePath(int id);
