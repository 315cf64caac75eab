#include <QApplication>

#include "app/frmMain.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    vistrel::frmMain window;
    window.start();
    return application.exec();
}
