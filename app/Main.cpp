#include "ConverterApp.h"
#include "QuilletResources.h"

#include <QApplication>

int main(int, char** argv) {
    // The program takes no command-line arguments; Qt gets none either.
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    QApplication app(argc, args);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    InitQuilletResources();
    CConverterApp theApp;
    theApp.InitInstance();
    return theApp.ExitInstance();
}
