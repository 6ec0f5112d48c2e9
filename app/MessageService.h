#pragma once

#include <functional>
#include <string>

class QWidget;

// Every message box of the program goes through ShowMessage. It may be called from any thread: the
// box itself is always shown on the GUI thread, and the caller waits for the answer.

enum class MsgButtons { Ok, YesNo };
enum class MsgIcon { Information, Warning, Question };

// The button pressed, with the values the dialogs' results use.
enum MsgResult { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct MessageRequest {
    std::string text; // exactly as given, trailing blanks and line breaks included
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::Information;
    QWidget* owner = nullptr;
};

using MessageHandler = std::function<int(const MessageRequest&)>;

int ShowMessage(const std::string& text, MsgButtons buttons = MsgButtons::Ok, QWidget* owner = nullptr,
                MsgIcon icon = MsgIcon::Information);

// For a program closing on a signal, where no one may be there to answer: from now on the default
// handler shows no box, prints the text and answers No (or Ok).
void StopShowingMessageBoxes();

// Replaces the handler (tests record and answer; the command-line converter prints). An empty
// handler restores the default, which shows a QMessageBox. Returns the previous handler.
MessageHandler SetMessageHandler(MessageHandler handler);
