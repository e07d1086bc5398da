// Pictavo's entry point.
#include "CImageApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    CImageApp program(QApplication::arguments());
    return program.InitInstance();
}
