#pragma once

#include <functional>
#include <string>

class QWidget;

// Every message box of the program goes through ShowMessage. It may be called from any thread: the
// box itself is always shown on the GUI thread, and the caller waits for the answer. A box without an
// owner opens over the window the user works in (the modal dialog or the active window, else the
// program's visible window), so that it stays attached to it on every desktop, Wayland included.

// OkShowFolder: "OK" and "Show in Folder", for a message about a file just written.
enum class MsgButtons { Ok, YesNo, OkShowFolder };
enum class MsgIcon { Information, Warning, Question };

// The button pressed, with the values the dialogs' results use.
enum MsgResult { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7, IDSHOWFOLDER = 100 };

struct MessageRequest {
    std::string text; // exactly as given, trailing blanks and line breaks included
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::Information;
    QWidget* owner = nullptr;
};

using MessageHandler = std::function<int(const MessageRequest&)>;

int ShowMessage(const std::string& text, MsgButtons buttons = MsgButtons::Ok, QWidget* owner = nullptr,
                MsgIcon icon = MsgIcon::Information);

// The window a box without owner opens over; null when the program shows none.
QWidget* DefaultMessageOwner();

// For a program closing on a signal, where no one may be there to answer: from now on the default
// handler shows no box, prints the text and answers No (or Ok).
void StopShowingMessageBoxes();

// Replaces the handler (tests record and answer; the command-line converter prints). An empty
// handler restores the default, which shows a QMessageBox. Returns the previous handler.
MessageHandler SetMessageHandler(MessageHandler handler);
