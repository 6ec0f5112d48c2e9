#pragma once

#include <QString>

class QWidget;

// The skin layer: the program's look, a Qt style sheet kept as resource 129 of type "RT_SKINMAGIC"
// (":/skin/RT_SKINMAGIC/129.qss"). The sheet is divided into named sections, each introduced by a
// comment line "/* @section <name> */"; the program uses the section "Dialog".
//
// The calls keep the order of a skinning library: initialise, load the skin, apply a section to the
// main window and choose the section for every dialog, exempt the controls that draw themselves,
// and release at exit. Everything runs on the GUI thread.
//
// The skin's rules name exact Qt classes (".QPushButton", ".QLabel"), never a class the program
// derives from, so the program's self-drawn controls are outside the skin by construction;
// ExemptFromSkin marks such a control explicitly so that a reader (and a test) can see it.

// Initialises the layer (and the program's resources). Returns true; a call while initialised changes
// nothing.
bool InitSkinMagicLib();

// Loads the skin from the resource of that id and type. False when the layer is not initialised or
// the resource is missing or holds no section; the previous skin then stays.
bool LoadSkinFromResource(int resourceId, const char* resourceType);

// Applies a section of the loaded skin to one window and everything in it. False when no skin is
// loaded or the section does not exist.
bool SetWindowSkin(QWidget* window, const char* section);

// Chooses the section that every dialog window gets when it is first shown (message boxes and the
// program's own dialogs alike), unless the dialog already has a style of its own. False when no skin
// is loaded or the section does not exist.
bool SetDialogSkin(const char* section);

// Leaves one self-drawn control to paint itself: it is marked with the property "skinExempt" and
// re-polished. Safe to call before the skin is loaded, and for controls of any window.
void ExemptFromSkin(QWidget* control);
bool IsSkinExempt(const QWidget* control);

// Releases the layer: the dialog section is forgotten and the windows it skinned get their own look
// back. Nothing happens when the layer is not initialised.
void ExitSkinMagicLib();

// The style sheet of a section of the loaded skin, empty when there is none.
QString SkinSectionText(const char* section);

// How often InitSkinMagicLib and ExitSkinMagicLib were called in this process; every call counts,
// also one that finds nothing to do, so a test can see that each ran exactly once.
int SkinInitCount();
int SkinReleaseCount();
bool IsSkinInitialised();
